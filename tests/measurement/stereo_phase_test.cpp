#include "measurement/stereo_phase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <numbers>
#include <span>
#include <vector>

#include "tests/measurement/loudness_signals.h"

namespace orvinta {
namespace {

constexpr float kRotation = 0.70710677f;

// A 1 kHz sine over whole cycles (48 samples per cycle at 48 kHz), shifted by phase radians.
std::vector<float> tone(double phase, float amplitude = 0.5f, std::size_t count = 4800) {
    return testing::sine(1000.0, amplitude, count, phase);
}

TEST(PhaseCorrelation, EqualsTheCosineOfThePhaseDifferenceAndNeverLeavesTheRange) {
    for (const double degrees : {0.0, 30.0, 60.0, 90.0, 120.0, 180.0}) {
        const double radians = degrees * std::numbers::pi / 180.0;
        const std::optional<double> correlation =
            computePhaseCorrelation(tone(0.0), tone(radians, 0.25f));
        ASSERT_TRUE(correlation.has_value());
        EXPECT_NEAR(*correlation, std::cos(radians), 1e-5) << degrees << " degrees";
    }
    // Rounding may push lr / sqrt(ll rr) past 1 for identical or inverted noise.
    const std::vector<float> signal = testing::noise(10007, 11);
    std::vector<float> inverted(signal.size());
    std::transform(signal.begin(), signal.end(), inverted.begin(), std::negate<>());
    const double same = computePhaseCorrelation(signal, signal).value();
    const double opposite = computePhaseCorrelation(signal, inverted).value();
    EXPECT_LE(same, 1.0);
    EXPECT_NEAR(same, 1.0, 1e-5);
    EXPECT_GE(opposite, -1.0);
    EXPECT_NEAR(opposite, -1.0, 1e-5);
}

TEST(PhaseCorrelation, SilenceCountsAsCorrelatedAndBadInputNeverYieldsANotANumber) {
    const std::vector<float> silence(480, 0.0f);
    std::vector<float> left = tone(0.0, 0.5f, 480);
    const std::vector<float> right = tone(0.5, 0.5f, 480);
    EXPECT_EQ(computePhaseCorrelation(left, silence), 1.0);
    EXPECT_EQ(computePhaseCorrelation(silence, left), 1.0);
    EXPECT_EQ(computePhaseCorrelation(silence, silence), 1.0);
    EXPECT_FALSE(computePhaseCorrelation({}, {}).has_value());
    EXPECT_FALSE(computePhaseCorrelation(left, std::span(right).first(479)).has_value());

    left[100] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(computePhaseCorrelation(left, right), 1.0);
    left[100] = std::numeric_limits<float>::infinity();
    const std::optional<double> correlation = computePhaseCorrelation(left, right);
    ASSERT_TRUE(correlation.has_value());
    EXPECT_FALSE(std::isnan(*correlation));
    EXPECT_LE(std::abs(*correlation), 1.0);
}

TEST(GoniometerPoints, RotateEveryTwentyFourthSamplePairFromTheStartOfEachBuffer) {
    // x = (R - L) / sqrt 2, y = (L + R) / sqrt 2: mono lands on the vertical axis, a single
    // channel on a diagonal, full scale in both channels reaches sqrt 2.
    const float left[] = {0.5f, 0.0f, 0.5f, 0.5f, 1.0f, 0.0f};
    const float right[] = {0.0f, 0.5f, 0.5f, -0.5f, 1.0f, 0.0f};
    const GoniometerPoint expected[] = {{-0.5f * kRotation, 0.5f * kRotation},
                                        {0.5f * kRotation, 0.5f * kRotation},
                                        {0.0f, kRotation},
                                        {-kRotation, 0.0f},
                                        {0.0f, static_cast<float>(std::numbers::sqrt2)},
                                        {0.0f, 0.0f}};
    // Sample pair k sits at index 24 k of a buffer of 24 k + 1 frames; the others are noise.
    std::vector<float> l = tone(0.3, 0.9f, 24 * 5 + 1);
    std::vector<float> r = tone(1.9, 0.9f, l.size());
    for (std::size_t k = 0; k < std::size(left); ++k) {
        l[24 * k] = left[k];
        r[24 * k] = right[k];
    }
    const std::vector<GoniometerPoint> points = makeGoniometerPoints(l, r);
    ASSERT_EQ(points.size(), std::size(expected));
    for (std::size_t k = 0; k < points.size(); ++k) {
        EXPECT_NEAR(points[k].x, expected[k].x, 1e-6) << k;
        EXPECT_NEAR(points[k].y, expected[k].y, 1e-6) << k;
    }
    EXPECT_EQ(makeGoniometerPoints(std::span(l).first(24), std::span(r).first(24)).size(), 1u);
    EXPECT_EQ(makeGoniometerPoints(std::span(l).first(25), std::span(r).first(25)).size(), 2u);
    EXPECT_EQ(makeGoniometerPoints(tone(0.0), tone(0.0)).size(), 200u);
    EXPECT_TRUE(makeGoniometerPoints({}, {}).empty());
    EXPECT_TRUE(makeGoniometerPoints(l, std::span(r).first(24)).empty());
}

}  // namespace
}  // namespace orvinta
