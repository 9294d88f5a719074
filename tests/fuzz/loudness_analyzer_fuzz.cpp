// Random buffers through one LoudnessAnalyzer: 0 ... 8 channels, blocks of 0 ... 20 000 frames
// filled by repeating up to 64 samples taken raw from the input (so NaN, infinities, denormals
// and huge values all occur), now and then the wrong channel count, unequal lengths or a reset.
// No reading may become not-a-number.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "measurement/loudness_analyzer.h"
#include "tests/fuzz/fuzz_input.h"

using namespace orvinta;

namespace {

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "reading broken: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    const int channels = input.take<std::uint8_t>() % 9;
    LoudnessAnalyzer analyzer(channels);
    // At most 32 calls an input, so that the fuzzer tries many short runs.
    for (int call = 0; call < 32 && input.remaining() > 0; ++call) {
        const std::size_t frames = input.take<std::uint16_t>() % 20001;
        const std::uint8_t flags = input.take<std::uint8_t>();
        std::size_t patternBytes =
            static_cast<std::size_t>(input.take<std::uint8_t>() % 65) * sizeof(float);
        const std::uint8_t* raw = input.bytes(patternBytes);
        std::vector<float> pattern(patternBytes / sizeof(float));
        if (!pattern.empty()) {
            std::memcpy(pattern.data(), raw, pattern.size() * sizeof(float));
        }

        ChannelBuffers buffers(static_cast<std::size_t>(analyzer.channelCount() + (flags & 1)));
        for (std::size_t c = 0; c < buffers.size(); ++c) {
            buffers[c].resize((flags & 2) != 0 && c == 1 ? frames / 2 : frames);
            for (std::size_t i = 0; i < buffers[c].size(); ++i) {
                buffers[c][i] = pattern.empty() ? 0.0f : pattern[(i + c) % pattern.size()];
            }
        }
        if ((flags & 4) != 0) {
            analyzer.resetLoudnessStatistics();
        }
        if ((flags & 8) != 0) {
            analyzer.resetPhaseAndSpectrum();
        }
        const LoudnessSnapshot& s = analyzer.process(buffers);
        check(!std::isnan(s.momentaryLUFS) && !std::isnan(s.shortTermLUFS), "momentary/short");
        check(!std::isnan(s.integratedLUFS), "integrated");
        check(std::isfinite(s.loudnessRangeLU) && s.loudnessRangeLU >= 0.0, "range");
        check(s.goniometerPoints.size() <= 2000, "goniometer");
        check(!s.phaseCorrelation || std::abs(*s.phaseCorrelation) <= 1.0, "correlation");
        for (std::size_t c = 0; c < s.truePeakDBTP.size(); ++c) {
            check(!std::isnan(s.truePeakDBTP[c]) && !std::isnan(s.maxTruePeakDBTP[c]), "peak");
        }
        for (const std::vector<float>& row : s.spectrumDB) {
            for (const float value : row) {
                check(!std::isnan(value), "spectrum");
            }
        }
    }
    return 0;
}
