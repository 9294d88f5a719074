// The analyzer against libebur128 on the same generated programmes.

#include <ebur128.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "measurement/loudness_analyzer.h"
#include "tests/measurement/loudness_signals.h"

namespace orvinta {
namespace {

using namespace orvinta::testing;

struct Measurement {
    double integratedLUFS;
    double loudnessRangeLU;
    std::vector<double> maxTruePeakDBTP;
};

// Band-limited noise and two tones per channel under a slow fade-in of 14 dB over the whole
// programme, slightly shifted from channel to channel: material whose loudness moves smoothly
// and evenly, so that sampling the short-term loudness every 100 ms or every second finds
// the same spread.
std::vector<std::vector<float>> smoothProgramme(std::size_t channels, double seconds,
                                                unsigned seed) {
    const auto frames = static_cast<std::size_t>(seconds * kRate);
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    std::vector<std::vector<float>> result(channels, std::vector<float>(frames));
    for (std::size_t c = 0; c < channels; ++c) {
        const std::vector<float> lows = Sine(110.0 * static_cast<double>(c + 1)).next(frames, 0.12);
        const std::vector<float> highs =
            Sine(1500.0 + 370.0 * static_cast<double>(c)).next(frames, 0.08);
        double low1 = 0.0;
        double low2 = 0.0;
        double gain = 0.0;
        for (std::size_t i = 0; i < frames; ++i) {
            if (i % 480 == 0) {
                const double t = static_cast<double>(i) / kRate;
                gain = dbToAmplitude(-14.0 + 14.0 * t / seconds - 0.5 * static_cast<double>(c));
            }
            // Two one-pole low-passes at about 3 kHz.
            low1 += 0.33 * (noise(generator) - low1);
            low2 += 0.33 * (low1 - low2);
            result[c][i] = static_cast<float>(gain * (0.6 * low2 + lows[i] + highs[i]));
        }
    }
    return result;
}

Measurement measureWithAnalyzer(const std::vector<std::vector<float>>& channels,
                                std::size_t blockFrames) {
    LoudnessAnalyzer analyzer(static_cast<int>(channels.size()));
    const LoudnessSnapshot s = feed(analyzer, channels, blockFrames);
    return {s.integratedLUFS, s.loudnessRangeLU, s.maxTruePeakDBTP};
}

Measurement measureWithLibebur128(const std::vector<std::vector<float>>& channels) {
    const auto channelCount = static_cast<unsigned>(channels.size());
    std::unique_ptr<ebur128_state, void (*)(ebur128_state*)> state(
        ebur128_init(channelCount, 48000,
                     EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK),
        [](ebur128_state* s) { ebur128_destroy(&s); });
    const int fivePointOne[6] = {EBUR128_LEFT,   EBUR128_RIGHT,         EBUR128_CENTER,
                                 EBUR128_UNUSED, EBUR128_LEFT_SURROUND, EBUR128_RIGHT_SURROUND};
    for (unsigned c = 0; c < channelCount && channelCount == 6; ++c) {
        ebur128_set_channel(state.get(), c, fivePointOne[c]);
    }
    const std::size_t frames = channels.front().size();
    std::vector<float> interleaved(frames * channelCount);
    for (std::size_t i = 0; i < interleaved.size(); ++i) {
        interleaved[i] = channels[i % channelCount][i / channelCount];
    }
    ebur128_add_frames_float(state.get(), interleaved.data(), frames);
    Measurement m{};
    ebur128_loudness_global(state.get(), &m.integratedLUFS);
    ebur128_loudness_range(state.get(), &m.loudnessRangeLU);
    for (unsigned c = 0; c < channelCount; ++c) {
        double peak = 0.0;
        ebur128_true_peak(state.get(), c, &peak);
        m.maxTruePeakDBTP.push_back(20.0 * std::log10(peak));
    }
    return m;
}

void expectAgreement(std::size_t channelCount, unsigned seed) {
    // 23 s: a whole number of seconds, so that the last hop updates the integrated loudness,
    // and 21 short-term values for libebur128 (one a second from 3 s on). It picks the
    // nearest rank for each percentile where the analyzer interpolates; with 21 values the
    // 10 % and 95 % ranks are whole numbers and the two methods meet.
    const auto programme = smoothProgramme(channelCount, 23.0, seed);
    // In blocks of 960 frames every hop falls on libebur128's 100 ms block grid.
    const Measurement ours = measureWithAnalyzer(programme, 960);
    const Measurement theirs = measureWithLibebur128(programme);
    EXPECT_NEAR(ours.integratedLUFS, theirs.integratedLUFS, 0.01);
    // The range here takes a short-term value every 100 ms, libebur128 every second.
    EXPECT_NEAR(ours.loudnessRangeLU, theirs.loudnessRangeLU, 0.05);
    EXPECT_GT(theirs.loudnessRangeLU, 3.0) << "the programme should have a range to compare";
    for (std::size_t c = 0; c < channelCount; ++c) {
        EXPECT_NEAR(ours.maxTruePeakDBTP[c], theirs.maxTruePeakDBTP[c], 0.1) << "channel " << c;
    }

    // In blocks of 4 096 frames a hop reads the newest 4 800 samples at a buffer boundary,
    // up to 85 ms off libebur128's grid.
    const Measurement offGrid = measureWithAnalyzer(programme, 4096);
    EXPECT_NEAR(offGrid.integratedLUFS, theirs.integratedLUFS, 0.1);
    EXPECT_NEAR(offGrid.loudnessRangeLU, theirs.loudnessRangeLU, 0.1);
    EXPECT_EQ(offGrid.maxTruePeakDBTP, ours.maxTruePeakDBTP);
}

TEST(LoudnessAnalyzerAgainstLibebur128, StereoAndFivePointOne) {
    for (const auto& [channels, seed] : {std::pair{2u, 21u}, std::pair{6u, 22u}}) {
        SCOPED_TRACE(::testing::Message() << channels << " channels");
        expectAgreement(channels, seed);
    }
}

}  // namespace
}  // namespace orvinta
