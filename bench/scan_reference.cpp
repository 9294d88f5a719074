// libebur128 on exactly the audio orvinta-scan measures: each file decoded and converted to
// 48 kHz by the scanner's own FileDecoder, then integrated loudness, loudness range and true
// peak from libebur128. Prints one JSON line per file with the thread's CPU seconds, for
// bench/scan_bench.sh.

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "app/scan/file_decoder.h"

namespace {

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

int measure(const char* path) {
    const double start = threadCpuSeconds();
    orvinta::FileDecoder decoder(path);
    if (!decoder.error().empty()) {
        std::fprintf(stderr, "%s: %s\n", path, decoder.error().c_str());
        return 1;
    }
    const auto channels = static_cast<unsigned>(decoder.file().channels());
    ebur128_state* state =
        ebur128_init(channels, 48000, EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK);
    orvinta::ChannelBuffers block;
    std::vector<float> interleaved;
    while (decoder.next(block, 4800)) {
        const std::size_t frames = block[0].size();
        interleaved.resize(frames * channels);
        for (std::size_t c = 0; c < channels; ++c) {
            for (std::size_t i = 0; i < frames; ++i) {
                interleaved[i * channels + c] = block[c][i];
            }
        }
        ebur128_add_frames_float(state, interleaved.data(), frames);
    }
    double integrated = 0.0;
    double range = 0.0;
    double peak = 0.0;
    ebur128_loudness_global(state, &integrated);
    ebur128_loudness_range(state, &range);
    for (unsigned c = 0; c < channels; ++c) {
        double channelPeak = 0.0;
        ebur128_true_peak(state, c, &channelPeak);
        peak = std::max(peak, channelPeak);
    }
    ebur128_destroy(&state);
    std::printf(
        "{\"file\": \"%s\", \"integratedLUFS\": %.3f, \"loudnessRangeLU\": %.3f, "
        "\"truePeakDBTP\": %.3f, \"cpuSeconds\": %.3f}\n",
        path, integrated, range, 20.0 * std::log10(peak), threadCpuSeconds() - start);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        status |= measure(argv[i]);
    }
    return status;
}
