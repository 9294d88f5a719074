// Meters each PulseAudio source through the loudness engine for a while against a private
// server, so that the engine's throughput lines and the system-audio drift lines of a long run
// can be read. Not a test: run it by hand, optionally with the seconds per source.
//
//   live_capture_run [seconds]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "capture/console_log.h"
#include "capture/loudness_engine.h"
#include "capture/microphone_capture.h"
#include "capture/system_audio_capture.h"
#include "tests/support/pulse/private_pulse_server.h"

namespace {

void meter(const std::shared_ptr<orvinta::AudioCaptureSource>& source, const char* name,
           int seconds) {
    auto engine = orvinta::LoudnessEngine::create();
    std::mutex mutex;
    double momentary = 0.0;
    engine->onSnapshot = [&](const orvinta::LoudnessSnapshot& snapshot) {
        std::lock_guard lock(mutex);
        momentary = snapshot.momentaryLUFS;
    };
    engine->onError = [name](const std::exception_ptr&) {
        orvinta::printLogLine(std::string("live_capture_run: ") + name + " reported an error");
    };
    orvinta::printLogLine(std::string("live_capture_run: metering ") + name + " for " +
                          std::to_string(seconds) + " s");
    engine->start(source);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    {
        std::lock_guard lock(mutex);
        char text[128];
        std::snprintf(text, sizeof(text), "live_capture_run: %s momentary %.2f LUFS", name,
                      momentary);
        orvinta::printLogLine(text);
    }
    engine->stop();
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    orvinta::testing::PrivatePulseServer::Options options;
    options.microphoneRate = 44100;
    orvinta::testing::PrivatePulseServer server(options);
    server.start();
    server.exportToEnvironment();
    server.playSineIntoMicrophone(0.1);  // -20.0 LUFS stereo
    server.playSineIntoSpeakers(0.05);   // -26.0 LUFS stereo
    meter(std::make_shared<orvinta::MicrophoneCapture>(), "microphone (44.1 kHz s16 stereo)",
          seconds);
    meter(std::make_shared<orvinta::SystemAudioCapture>(), "system audio", seconds);
    return 0;
}
