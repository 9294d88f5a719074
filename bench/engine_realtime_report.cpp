// Ten seconds of the loudness engine in real time: a scripted 44.1 kHz stereo source delivering
// 1024-frame blocks of a -23 dBFS-peak 1 kHz sine (stereo: about -23 LUFS). Prints how many
// snapshots came per second, how many settled momentary readings lie within 0.1 LU of the sine's
// loudness, and the engine's own log lines. Run: build/release/bench/engine_realtime_report [s]

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/console_log.h"
#include "capture/loudness_engine.h"
#include "tests/support/fake_source/scripted_capture_source.h"

int main(int argc, char* argv[]) {
    using namespace orvinta;
    using Clock = std::chrono::steady_clock;
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;

    ScriptedCaptureSource::Options options;
    options.format = PcmFormat{44100.0, 2, SampleType::float32, true};
    options.framesPerBuffer = 1024;
    options.signal = ScriptedCaptureSource::sine(1000.0, -23.0, 44100.0);
    auto source = std::make_shared<ScriptedCaptureSource>(options);

    std::mutex mutex;
    std::vector<std::pair<Clock::time_point, double>> momentary;
    auto engine = LoudnessEngine::create();
    engine->onSnapshot = [&](const LoudnessSnapshot& snapshot) {
        const std::lock_guard lock(mutex);
        momentary.emplace_back(Clock::now(), snapshot.momentaryLUFS);
    };
    const auto begin = Clock::now();
    engine->start(source);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    engine->stop();
    const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
    flushLogLines(std::chrono::seconds(1));

    const std::lock_guard lock(mutex);
    std::size_t settled = 0;
    std::size_t onTarget = 0;
    for (const auto& [at, lufs] : momentary) {
        if (at - begin > std::chrono::seconds(1)) {
            ++settled;
            onTarget += std::fabs(lufs - -23.0) <= 0.1;
        }
    }
    std::printf(
        "snapshots: %zu in %.2f s = %.1f per second (at most %.1f); %zu of %zu settled "
        "momentary readings within -23.0 +- 0.1 LUFS; last %.3f LUFS\n",
        momentary.size(), elapsed, static_cast<double>(momentary.size()) / elapsed, 1000.0 / 33.0,
        onTarget, settled, momentary.empty() ? NAN : momentary.back().second);
    return 0;
}
