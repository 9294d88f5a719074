#include "measurement/loudness_statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <vector>

#include "measurement/power_history.h"

namespace orvinta {
namespace {

double power(double lufs) {
    return std::pow(10.0, (lufs + 0.691) / 10.0);
}

std::vector<double> powers(std::initializer_list<double> lufs) {
    std::vector<double> result;
    for (const double l : lufs) {
        result.push_back(power(l));
    }
    return result;
}

// The loudness range by the book: gate, convert, sort everything, interpolate.
double sortedLoudnessRange(const std::vector<double>& windowPowers) {
    if (windowPowers.size() < 2) {
        return 0.0;
    }
    double sum = 0.0;
    std::size_t count = 0;
    for (const double p : windowPowers) {
        if (p > kAbsoluteGatePower) {
            sum += p;
            ++count;
        }
    }
    if (count == 0) {
        return 0.0;
    }
    const double threshold = std::pow(
        10.0,
        ((10.0 * std::log10(sum / static_cast<double>(count)) - 0.691 - 20.0) + 0.691) / 10.0);
    std::vector<double> loudness;
    for (const double p : windowPowers) {
        if (p > kAbsoluteGatePower && p > threshold) {
            loudness.push_back(10.0 * std::log10(p) - 0.691);
        }
    }
    if (loudness.size() < 2) {
        return 0.0;
    }
    std::sort(loudness.begin(), loudness.end());
    const double range = percentile(loudness, 0.95) - percentile(loudness, 0.1);
    return range < 0.0 ? 0.0 : range;
}

TEST(IntegratedLoudness, RelativeGateDropsBlocksMoreThan10LuBelowTheMean) {
    EXPECT_NEAR(integratedLoudnessLUFS(powers({-20.0, -40.0})), -20.00, 0.005);
    // The mean of the powers, not of the loudness values.
    EXPECT_NEAR(integratedLoudnessLUFS(powers({-20.0, -25.0})), -21.82, 0.005);
    EXPECT_NEAR(integratedLoudnessLUFS(powers({-23.0, -23.0, -23.0})), -23.0, 1e-9);
}

TEST(IntegratedLoudness, AbsoluteGateAndEmptyHistory) {
    EXPECT_EQ(integratedLoudnessLUFS({}), -std::numeric_limits<double>::infinity());
    // At the gate is not above it.
    const std::vector<double> quiet = {kAbsoluteGatePower, 0.0, kAbsoluteGatePower * 0.5};
    EXPECT_EQ(integratedLoudnessLUFS(quiet), -70.0);
    // Blocks under the absolute gate do not pull the mean down.
    EXPECT_NEAR(integratedLoudnessLUFS(
                    std::vector<double>{power(-30.0), 0.0, kAbsoluteGatePower, power(-30.0)}),
                -30.0, 1e-9);
}

TEST(LoudnessRange, SpreadBetweenTheInterpolatedPercentiles) {
    EXPECT_NEAR(loudnessRangeLU(powers({-30.0, -20.0})), 8.50, 1e-9);
    // -60 falls under the relative gate 20 LU below the mean.
    EXPECT_NEAR(loudnessRangeLU(powers({-30.0, -60.0, -20.0})), 8.50, 1e-9);
    std::vector<double> steps;
    for (int lufs = -40; lufs <= -20; ++lufs) {
        steps.push_back(power(lufs));
    }
    std::shuffle(steps.begin(), steps.end(), std::mt19937(7));
    EXPECT_NEAR(loudnessRangeLU(steps), 17.00, 1e-9);
}

TEST(LoudnessRange, ZeroWithoutTwoValuesThatPassTheGates) {
    EXPECT_EQ(loudnessRangeLU({}), 0.0);
    EXPECT_EQ(loudnessRangeLU(powers({-20.0})), 0.0);
    EXPECT_EQ(loudnessRangeLU(powers({-20.0, -20.0})), 0.0);
    EXPECT_EQ(loudnessRangeLU(std::vector<double>{kAbsoluteGatePower, kAbsoluteGatePower, 0.0}),
              0.0);
    EXPECT_EQ(loudnessRangeLU(powers({-20.0, -75.0, -80.0})), 0.0);
    EXPECT_EQ(loudnessRangeLU(powers({-20.0, -45.0})), 0.0);
}

TEST(LoudnessRange, SelectionAgreesWithAFullSort) {
    std::mt19937 generator(11);
    std::uniform_real_distribution<double> level(-80.0, -5.0);
    std::vector<double> scratch;
    for (const std::size_t n : {2u, 3u, 4u, 5u, 7u, 10u, 11u, 20u, 21u, 39u, 101u, 1000u, 20000u}) {
        for (int trial = 0; trial < 5; ++trial) {
            std::vector<double> values(n);
            for (double& v : values) {
                v = power(level(generator));
            }
            // Repeated values put equal powers at neighbouring ranks.
            if (trial == 4) {
                for (std::size_t i = 1; i < n; i += 2) {
                    values[i] = values[i - 1];
                }
            }
            EXPECT_NEAR(loudnessRangeLU(values, scratch), sortedLoudnessRange(values), 1e-9)
                << n << " values, trial " << trial;
        }
    }
}

TEST(PowerHistory, KeepsOnlyTheNewestValuesContiguousAndInOrder) {
    constexpr std::size_t kCapacity = 144000;
    PowerHistory history(kCapacity);
    for (std::size_t i = 0; i < 3 * kCapacity + 17; ++i) {
        history.append(static_cast<double>(i));
        if (i == kCapacity + 4 || i == 3 * kCapacity + 16) {
            const auto values = history.values();
            ASSERT_EQ(values.size(), kCapacity);
            for (std::size_t k = 0; k < values.size(); ++k) {
                ASSERT_EQ(values[k], static_cast<double>(i + 1 - kCapacity + k));
            }
        }
    }
    history.clear();
    EXPECT_EQ(history.size(), 0u);
    history.append(1.5);
    EXPECT_EQ(history.values().front(), 1.5);
}

}  // namespace
}  // namespace orvinta
