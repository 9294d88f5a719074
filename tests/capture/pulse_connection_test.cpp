#include "capture/pulse_connection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <variant>

#include "capture/audio_capture_error.h"
#include "capture/microphone_capture.h"
#include "capture/system_audio_capture.h"
#include "tests/capture/capture_recorder.h"
#include "tests/support/pulse/private_pulse_server.h"

namespace orvinta {
namespace {

using namespace std::chrono_literals;
using testing::EngineProbe;
using testing::PrivatePulseServer;
using testing::sineLoudness;

// Both sources against one server, as the application runs them.
class PulseSources : public ::testing::Test {
protected:
    void SetUp() override {
        server.start();
        server.exportToEnvironment();
        server.playSineIntoMicrophone(0.1);
        server.playSineIntoSpeakers(0.1);
    }
    PrivatePulseServer server;
};

// What a start did: started, a capture error of that kind, or the server's own error code.
using Outcome = std::variant<std::monostate, AudioCaptureError::Kind, int>;

Outcome startOutcome(AudioCaptureSource&& source) {
    source.stop();  // stopping what never started does nothing
    try {
        source.start();
    } catch (const AudioCaptureError& error) {
        return error.kind();
    } catch (const PulseError& error) {
        return error.code();
    }
    return std::monostate{};
}

TEST(PulseSourcesStart, FailsWithTheErrorThatTellsTheUserWhatIsMissing) {
    using Kind = AudioCaptureError::Kind;
    struct Case {
        const char* what;
        PrivatePulseServer::Options options;
        bool running;
        bool refusing;
        Outcome microphone;
        Outcome system;
    };
    const Case cases[] = {
        {"no devices", PrivatePulseServer::nothingAttached(), true, false,
         Kind::noInputDeviceAvailable, Kind::noDisplayAvailable},
        // PulseAudio falls back to the speakers' monitor: system audio, not a microphone.
        {"only a monitor", PrivatePulseServer::onlyMonitor(), true, false,
         Kind::noInputDeviceAvailable, std::monostate{}},
        {"refused", {}, true, true, Kind::permissionDenied, Kind::permissionDenied},
        {"no server", {}, false, false, PA_ERR_CONNECTIONREFUSED, Kind::streamSetupFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PrivatePulseServer server(c.options);
        if (c.running) {
            server.start();
        }
        c.refusing ? server.exportRefusingToEnvironment() : server.exportToEnvironment();
        EXPECT_EQ(startOutcome(MicrophoneCapture()), c.microphone);
        EXPECT_EQ(startOutcome(SystemAudioCapture()), c.system);
        EXPECT_FALSE(MicrophoneCapture::currentInputFormatInfo());
    }
}

TEST_F(PulseSources, HungServerNeverHoldsUpStopAndAStartGivesUp) {
    auto microphone = std::make_unique<EngineProbe>(std::make_shared<MicrophoneCapture>());
    auto system = std::make_unique<EngineProbe>(std::make_shared<SystemAudioCapture>());
    ASSERT_TRUE(microphone->reads(sineLoudness(0.1, 2)));
    ASSERT_TRUE(system->reads(sineLoudness(0.1, 2)));

    server.pause();
    // stop() and the destructors run on the UI thread: a hang check, not a timing.
    auto stopped = std::async(std::launch::async, [&] {
        microphone.reset();
        system.reset();
    });
    const auto stopStatus = stopped.wait_for(1s);
    // A start gives up after its own timeouts, telling the server stopped answering.
    auto microphoneStart =
        std::async(std::launch::async, [] { return startOutcome(MicrophoneCapture()); });
    auto systemStart =
        std::async(std::launch::async, [] { return startOutcome(SystemAudioCapture()); });
    const auto microphoneStatus = microphoneStart.wait_for(20s);
    const auto systemStatus = systemStart.wait_for(20s);
    server.resume();

    EXPECT_EQ(stopStatus, std::future_status::ready);
    ASSERT_EQ(microphoneStatus, std::future_status::ready);
    ASSERT_EQ(systemStatus, std::future_status::ready);
    EXPECT_EQ(microphoneStart.get(), Outcome(PA_ERR_TIMEOUT));
    EXPECT_EQ(systemStart.get(), Outcome(AudioCaptureError::Kind::streamSetupFailed));
    // The server recovers, and so does capture.
    EXPECT_TRUE(EngineProbe(std::make_shared<MicrophoneCapture>()).reads(sineLoudness(0.1, 2)));
}

struct Usage {
    long residentKiB = 0;
    long descriptors = 0;
    long threads = 0;
};

Usage usage() {
    Usage result;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) {
            result.residentKiB = std::stol(line.substr(6));
        }
    }
    const auto entries = [](const char* directory) {
        return std::distance(std::filesystem::directory_iterator(directory), {});
    };
    result.descriptors = entries("/proc/self/fd");
    result.threads = entries("/proc/self/task");
    return result;
}

TEST_F(PulseSources, ThreeHundredStartStopCyclesLeaveMemoryDescriptorsAndThreadsFlat) {
    const auto cycles = [](int count) {
        for (int i = 0; i < count; ++i) {
            MicrophoneCapture microphone;
            microphone.start();
            SystemAudioCapture system;
            system.start();
            microphone.stop();
            system.stop();
        }
    };
    cycles(20);  // the allocator's arenas and libpulse's per-thread state settle
    const Usage before = usage();
    cycles(300);
    const Usage after = usage();
    EXPECT_EQ(after.descriptors, before.descriptors);
    EXPECT_EQ(after.threads, before.threads);
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
    // (Under a sanitizer its own shadow memory and quarantine grow with every allocation.)
    EXPECT_LT(after.residentKiB - before.residentKiB, 2048)
        << before.residentKiB << " KiB before, " << after.residentKiB << " KiB after";
#endif
}

}  // namespace
}  // namespace orvinta
