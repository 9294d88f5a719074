#include "measurement/stereo_phase.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <numbers>
#include <random>
#include <span>
#include <vector>

namespace orvinta {
namespace {

constexpr float kRotation = 0.70710677f;

// A 1 kHz sine over whole cycles (48 samples per cycle at 48 kHz), shifted by phase radians.
std::vector<float> tone(double phase, float amplitude = 0.5f, std::size_t count = 4800) {
    std::vector<float> samples(count);
    for (std::size_t n = 0; n < count; ++n) {
        samples[n] =
            amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * n / 48.0 + phase));
    }
    return samples;
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
    std::mt19937 generator(11);
    std::uniform_real_distribution<float> distribution(-1.0f, 1.0f);
    std::vector<float> signal(10007);
    std::vector<float> inverted(signal.size());
    for (std::size_t n = 0; n < signal.size(); ++n) {
        signal[n] = distribution(generator);
        inverted[n] = -signal[n];
    }
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

TEST(GoniometerPoints, TakesEveryTwentyFourthSamplePairFromTheStartOfEachBuffer) {
    std::vector<float> left(25);
    const std::vector<float> right(25, 0.0f);
    for (std::size_t n = 0; n < left.size(); ++n) {
        left[n] = static_cast<float>(n) / 100.0f;
    }
    const std::vector<GoniometerPoint> points = makeGoniometerPoints(left, right);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0], (GoniometerPoint{0.0f, 0.0f}));
    EXPECT_FLOAT_EQ(points[1].y, 0.24f * kRotation);

    EXPECT_EQ(makeGoniometerPoints(std::span(left).first(24), std::span(right).first(24)).size(),
              1u);
    EXPECT_EQ(makeGoniometerPoints(std::span(left).first(1), std::span(right).first(1)).size(), 1u);
    EXPECT_EQ(makeGoniometerPoints(tone(0.0), tone(0.0)).size(), 200u);
    EXPECT_TRUE(makeGoniometerPoints({}, {}).empty());
    EXPECT_TRUE(makeGoniometerPoints(left, std::span(right).first(24)).empty());
}

TEST(GoniometerPoints, RotateMonoOntoTheVerticalAxisAndSingleChannelsOntoTheDiagonals) {
    struct Case {
        float left, right, x, y;
    };
    // x = (R - L) / sqrt 2, y = (L + R) / sqrt 2: full scale in both channels reaches sqrt 2.
    const Case cases[] = {{0.5f, 0.0f, -0.5f * kRotation, 0.5f * kRotation},
                          {0.0f, 0.5f, 0.5f * kRotation, 0.5f * kRotation},
                          {0.5f, 0.5f, 0.0f, kRotation},
                          {0.5f, -0.5f, -kRotation, 0.0f},
                          {1.0f, 1.0f, 0.0f, static_cast<float>(std::numbers::sqrt2)},
                          {0.0f, 0.0f, 0.0f, 0.0f}};
    for (const Case& c : cases) {
        const GoniometerPoint point =
            makeGoniometerPoints(std::vector<float>{c.left}, std::vector<float>{c.right}).at(0);
        EXPECT_NEAR(point.x, c.x, 1e-6) << c.left << ", " << c.right;
        EXPECT_NEAR(point.y, c.y, 1e-6) << c.left << ", " << c.right;
    }
}

}  // namespace
}  // namespace orvinta
