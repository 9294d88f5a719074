#include "measurement/stereo_phase.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <numbers>
#include <random>
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

std::vector<float> negated(std::vector<float> samples) {
    for (float& sample : samples) {
        sample = -sample;
    }
    return samples;
}

TEST(PhaseCorrelation, IdenticalChannelsAreFullyCorrelated) {
    std::mt19937 generator(11);
    std::uniform_real_distribution<float> distribution(-1.0f, 1.0f);
    std::vector<float> signal(10007);
    for (float& sample : signal) {
        sample = distribution(generator);
    }
    const std::optional<double> correlation = computePhaseCorrelation(signal, signal);
    ASSERT_TRUE(correlation.has_value());
    // Rounding may push lr / sqrt(ll rr) past 1; the reading never leaves [-1, 1].
    EXPECT_LE(*correlation, 1.0);
    EXPECT_NEAR(*correlation, 1.0, 1e-5);

    const std::optional<double> inverted = computePhaseCorrelation(signal, negated(signal));
    ASSERT_TRUE(inverted.has_value());
    EXPECT_GE(*inverted, -1.0);
    EXPECT_NEAR(*inverted, -1.0, 1e-5);
}

TEST(PhaseCorrelation, EqualsTheCosineOfThePhaseDifferenceBetweenTwoSines) {
    for (const double degrees : {0.0, 30.0, 60.0, 90.0, 120.0, 180.0}) {
        const double radians = degrees * std::numbers::pi / 180.0;
        const std::optional<double> correlation =
            computePhaseCorrelation(tone(0.0), tone(radians, 0.25f));
        ASSERT_TRUE(correlation.has_value());
        EXPECT_NEAR(*correlation, std::cos(radians), 1e-5) << degrees << " degrees";
    }
}

TEST(PhaseCorrelation, SilenceInEitherChannelCountsAsCorrelated) {
    const std::vector<float> silence(480, 0.0f);
    EXPECT_EQ(computePhaseCorrelation(tone(0.0, 0.5f, 480), silence), 1.0);
    EXPECT_EQ(computePhaseCorrelation(silence, tone(0.0, 0.5f, 480)), 1.0);
    EXPECT_EQ(computePhaseCorrelation(silence, silence), 1.0);
}

TEST(PhaseCorrelation, IsAbsentForEmptyOrMismatchedChannels) {
    EXPECT_FALSE(computePhaseCorrelation({}, {}).has_value());
    EXPECT_FALSE(computePhaseCorrelation(tone(0.0, 0.5f, 480), tone(0.0, 0.5f, 479)).has_value());
}

TEST(PhaseCorrelation, NonFiniteSamplesNeverYieldANotANumber) {
    std::vector<float> left = tone(0.0, 0.5f, 480);
    const std::vector<float> right = tone(0.5, 0.5f, 480);
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
    std::vector<float> right(25);
    for (std::size_t n = 0; n < left.size(); ++n) {
        left[n] = static_cast<float>(n) / 100.0f;
        right[n] = 0.0f;
    }
    const std::vector<GoniometerPoint> points = makeGoniometerPoints(left, right);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0], (GoniometerPoint{0.0f, 0.0f}));
    EXPECT_FLOAT_EQ(points[1].y, 0.24f * kRotation);

    EXPECT_EQ(makeGoniometerPoints(std::span(left).first(24), std::span(right).first(24)).size(),
              1u);
    EXPECT_EQ(makeGoniometerPoints(std::span(left).first(1), std::span(right).first(1)).size(), 1u);
    EXPECT_EQ(makeGoniometerPoints(tone(0.0), tone(0.0)).size(), 200u);
}

TEST(GoniometerPoints, RotateMonoOntoTheVerticalAxisAndSingleChannelsOntoTheDiagonals) {
    const std::vector<float> one{0.5f};
    const std::vector<float> zero{0.0f};
    const std::vector<float> minusOne{-0.5f};

    const GoniometerPoint leftOnly = makeGoniometerPoints(one, zero).at(0);
    EXPECT_FLOAT_EQ(leftOnly.x, -0.5f * kRotation);
    EXPECT_FLOAT_EQ(leftOnly.y, 0.5f * kRotation);

    const GoniometerPoint rightOnly = makeGoniometerPoints(zero, one).at(0);
    EXPECT_FLOAT_EQ(rightOnly.x, 0.5f * kRotation);
    EXPECT_FLOAT_EQ(rightOnly.y, 0.5f * kRotation);

    const GoniometerPoint mono = makeGoniometerPoints(one, one).at(0);
    EXPECT_EQ(mono.x, 0.0f);
    EXPECT_FLOAT_EQ(mono.y, 2.0f * 0.5f * kRotation);

    const GoniometerPoint outOfPhase = makeGoniometerPoints(one, minusOne).at(0);
    EXPECT_FLOAT_EQ(outOfPhase.x, -2.0f * 0.5f * kRotation);
    EXPECT_EQ(outOfPhase.y, 0.0f);

    // Full scale in both channels reaches sqrt(2) on the vertical axis; no further scaling.
    const std::vector<float> full{1.0f};
    EXPECT_NEAR(makeGoniometerPoints(full, full).at(0).y, std::numbers::sqrt2, 1e-6);
}

TEST(GoniometerPoints, SilenceLiesAtTheOriginAndBadBuffersGiveNoPoints) {
    const std::vector<float> silence(48, 0.0f);
    for (const GoniometerPoint& point : makeGoniometerPoints(silence, silence)) {
        EXPECT_EQ(point, (GoniometerPoint{0.0f, 0.0f}));
    }
    EXPECT_TRUE(makeGoniometerPoints({}, {}).empty());
    EXPECT_TRUE(makeGoniometerPoints(silence, std::span(silence).first(47)).empty());
}

}  // namespace
}  // namespace orvinta
