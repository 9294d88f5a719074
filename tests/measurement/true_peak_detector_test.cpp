#include "measurement/true_peak_detector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numbers>
#include <random>
#include <span>
#include <stdexcept>
#include <vector>

#include "tests/measurement/loudness_signals.h"

namespace orvinta {
namespace {

using testing::noise;
using testing::sine;

constexpr double kNegativeInfinity = -std::numeric_limits<double>::infinity();

// The interpolator the slow, obvious way: `history` holds the newest `taps` samples, newest
// first, shifted for every input sample; every branch is summed tap by tap. Returns the largest
// |interpolated value| of the buffer.
double shiftingPeak(const std::vector<double>& coefficients, int factor,
                    std::vector<double>& history, std::span<const float> samples) {
    const std::size_t taps = history.size();
    double peak = 0.0;
    for (const float x : samples) {
        std::rotate(history.rbegin(), history.rbegin() + 1, history.rend());
        history[0] = x;
        for (std::size_t p = 0; p < static_cast<std::size_t>(factor); ++p) {
            double acc = 0.0;
            for (std::size_t k = 0; k < taps; ++k) {
                acc += coefficients[p * taps + k] * history[k];
            }
            peak = std::max(peak, std::abs(acc));
        }
    }
    return peak;
}

TEST(TruePeakDetector, KnownSignalsReadTheirKnownPeaks) {
    // Each signal in buffers, with the current peak of the last buffer and the maximum.
    std::vector<float> step(960, 0.0f);
    std::fill(step.begin() + 480, step.end(), 0.5f);
    std::vector<float> impulse(100, 0.0f);
    impulse[50] = 1.0f;
    // Every sample of sin(pi/2 n + pi/4) is +-0.7071 (-3.01 dBFS); the waveform peaks at 1.0
    // halfway between samples, where no interpolated point falls. Settled, the nearest points
    // lie an eighth of a sample, pi/16 of the cycle, off the crest; the onset overshoots.
    std::vector<float> quarterRate(4800);
    for (std::size_t n = 0; n < quarterRate.size(); ++n) {
        quarterRate[n] =
            static_cast<float>(std::sin(std::numbers::pi / 2.0 * n + std::numbers::pi / 4.0));
    }
    const std::vector<float> tone = sine(997.0, 1.0, 48000);
    const std::vector<float> zeros(480, 0.0f);
    struct Case {
        const char* name;
        std::vector<std::vector<float>> buffers;
        double currentDBTP;
        double maxDBTP;
    };
    const Case cases[] = {
        {"full-scale sine", {tone, tone}, 0.0, 0.0},
        // A step overshoots above the level it settles at.
        {"step", {step, std::vector<float>(960, 0.5f)}, -6.02, -5.00},
        {"single full-scale sample", {impulse}, -0.24, -0.24},
        {"quarter-rate sine",
         {quarterRate, quarterRate},
         20.0 * std::log10(std::cos(std::numbers::pi / 16.0)),
         -0.07},
        // The first buffer of zeros still holds the tone's tail in the history; an empty
        // buffer changes nothing.
        {"silence after a tone", {tone, zeros, zeros, {}}, kNegativeInfinity, 0.0},
        {"silence", {zeros}, kNegativeInfinity, kNegativeInfinity},
    };
    for (const Case& c : cases) {
        TruePeakDetector detector(4, 12);
        for (const std::vector<float>& buffer : c.buffers) {
            detector.process(buffer);
        }
        EXPECT_TRUE(testing::near(detector.currentPeakDBTP(), c.currentDBTP, 0.005)) << c.name;
        EXPECT_TRUE(testing::near(detector.maxPeakDBTP(), c.maxDBTP, 0.005)) << c.name;
    }
    EXPECT_LT(*std::max_element(quarterRate.begin(), quarterRate.end()), 0.7072f);
}

TEST(TruePeakDetector, EveryInterpolatedPointMatchesTheShiftingInterpolator) {
    // Loud noise exercises every lane and tail of the vectorised path; block sizes straddle its
    // internal chunking, and the history carries across every buffer boundary, so the maximum
    // does not depend on how the audio is cut.
    const std::vector<float> signal = noise(30000, 7);
    for (const auto& [factor, taps] :
         {std::pair{4, 12}, std::pair{4, 7}, std::pair{2, 8}, std::pair{3, 5}}) {
        TruePeakDetector detector(factor, taps);
        std::vector<double> history(static_cast<std::size_t>(taps), 0.0);
        std::size_t offset = 0;
        for (const std::size_t block : {1u, 127u, 1024u, 4095u, 4801u, 1025u, 8u, 2049u}) {
            const auto buffer = std::span(signal).subspan(offset, block);
            offset += block;
            detector.process(buffer);
            const double expected =
                20.0 * std::log10(shiftingPeak(detector.polyphaseFlat(), factor, history, buffer));
            EXPECT_NEAR(detector.currentPeakDBTP(), expected, 1e-9)
                << "factor " << factor << ", taps " << taps << ", block " << block;
        }
        TruePeakDetector whole(factor, taps);
        whole.process(std::span(signal).first(offset));
        EXPECT_NEAR(detector.maxPeakDBTP(), whole.maxPeakDBTP(), 1e-12);
    }
}

TEST(TruePeakDetector, MaximumOnlyProcessingFindsEveryRiseOfTheMaximum) {
    // Quiet noise with single samples, each louder than the one before, a few samples ahead of
    // a boundary: of a buffer (64), of a bounded stretch (1292), of a buffer shorter than the
    // filter's history (2064 to 2071) and of an internal chunk (4088). Each raises the maximum
    // in the points after the boundary, within the buffer checked next, so a stretch skipped
    // although it could hold the peak would show.
    std::vector<float> signal = noise(6000, 11, 0.01f);
    float level = 0.1f;
    for (const std::size_t spike : {10, 62, 1288, 2063, 4085}) {
        signal[spike] = spike % 2 == 0 ? level : -level;
        level += 0.05f;
    }
    // Points that read a not-a-number sample are not counted; the others near it still are.
    signal[4100] = std::numeric_limits<float>::quiet_NaN();
    TruePeakDetector all(4, 16, 5.0);
    TruePeakDetector maximumOnly(4, 16, 5.0);
    std::size_t offset = 0;
    for (const std::size_t block : {1u, 63u, 1100u, 900u, 7u, 993u, 2936u}) {
        const auto buffer = std::span(signal).subspan(offset, block);
        offset += block;
        all.process(buffer);
        maximumOnly.processForMaximum(buffer);
        EXPECT_NEAR(maximumOnly.maxPeakDBTP(), all.maxPeakDBTP(), 1e-9) << "up to " << offset;
    }
}

TEST(TruePeakDetector, ResetRestartsTheMaximumButKeepsTheHistory) {
    TruePeakDetector continuous(4, 12);
    TruePeakDetector withReset(4, 12);
    const std::vector<float> signal = noise(503, 3);
    for (TruePeakDetector* d : {&continuous, &withReset}) {
        d->process(std::span(signal).first(500));
    }
    withReset.resetMaxPeak();
    EXPECT_EQ(withReset.maxPeakDBTP(), kNegativeInfinity);
    // The buffer right after the reset still sees the samples before it.
    for (TruePeakDetector* d : {&continuous, &withReset}) {
        d->process(std::span(signal).subspan(500));
    }
    EXPECT_EQ(withReset.currentPeakDBTP(), continuous.currentPeakDBTP());
    EXPECT_EQ(withReset.maxPeakDBTP(), withReset.currentPeakDBTP());
    EXPECT_GT(continuous.maxPeakDBTP(), continuous.currentPeakDBTP());
}

TEST(TruePeakDetector, RejectsAFactorOrTapCountBelowOne) {
    EXPECT_THROW(TruePeakDetector(0, 12), std::invalid_argument);
    EXPECT_THROW(TruePeakDetector(4, 0), std::invalid_argument);
    const TruePeakDetector minimal(1, 1);
    EXPECT_EQ(minimal.polyphaseFlat(), std::vector<double>{1.0});
}

}  // namespace
}  // namespace orvinta
