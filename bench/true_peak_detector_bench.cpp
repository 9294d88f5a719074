#include <benchmark/benchmark.h>

#include <cstddef>
#include <random>
#include <vector>

#include "measurement/true_peak_detector.h"

namespace {

// One channel through the 4x interpolator in buffers of the given length, with 12 taps per phase
// (Kaiser beta 8.6) or with the analyzer's 16 taps per phase (beta 5). items_per_second is samples
// per second of one channel; divide by 48000 for real-time factor.
void BM_TruePeakDetectorProcess(benchmark::State& state) {
    const auto length = static_cast<std::size_t>(state.range(0));
    const auto taps = static_cast<int>(state.range(1));
    std::mt19937 generator(1);
    std::uniform_real_distribution<float> distribution(-1.0f, 1.0f);
    std::vector<float> buffer(length);
    for (float& sample : buffer) {
        sample = distribution(generator);
    }
    orvinta::TruePeakDetector detector(4, taps, taps == 12 ? 8.6 : 5.0);
    for (auto _ : state) {
        detector.process(buffer);
        benchmark::DoNotOptimize(detector.currentPeakDBTP());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(length));
}
BENCHMARK(BM_TruePeakDetectorProcess)->ArgsProduct({{128, 480, 4800}, {12, 16}});

}  // namespace
