#include "measurement/loudness_statistics.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace orvinta {

namespace {

constexpr double kLoudnessOffset = -0.691;
constexpr double kRelativeGateLU = -10.0;
constexpr double kRangeGateLU = -20.0;
constexpr double kRangeLowFraction = 0.10;
constexpr double kRangeHighFraction = 0.95;

struct GatedMean {
    double sum = 0.0;
    std::size_t count = 0;
};

// Sum and count of the powers strictly above `threshold`.
GatedMean meanAbove(std::span<const double> powers, double threshold) {
    GatedMean result;
    for (const double p : powers) {
        if (p > threshold) {
            result.sum += p;
            ++result.count;
        }
    }
    return result;
}

}  // namespace

double powerToLUFS(double power) {
    if (!(power > 0.0)) {
        return -std::numeric_limits<double>::infinity();
    }
    return 10.0 * std::log10(power) + kLoudnessOffset;
}

double lufsToPower(double lufs) {
    return std::pow(10.0, (lufs - kLoudnessOffset) / 10.0);
}

double integratedLoudnessLUFS(std::span<const double> blockPowers) {
    if (blockPowers.empty()) {
        return -std::numeric_limits<double>::infinity();
    }
    const GatedMean absolute = meanAbove(blockPowers, kAbsoluteGatePower);
    if (absolute.count == 0) {
        return -70.0;
    }
    const double gateLUFS =
        powerToLUFS(absolute.sum / static_cast<double>(absolute.count)) + kRelativeGateLU;
    // A block counts only if it passes both gates, so one comparison with the higher of the
    // two thresholds does.
    const double threshold = std::max(lufsToPower(gateLUFS), kAbsoluteGatePower);
    const GatedMean relative = meanAbove(blockPowers, threshold);
    if (relative.count == 0) {
        return gateLUFS;
    }
    return powerToLUFS(relative.sum / static_cast<double>(relative.count));
}

double loudnessRangeLU(std::span<const double> windowPowers, std::vector<double>& scratch) {
    if (windowPowers.size() < 2) {
        return 0.0;
    }
    const GatedMean absolute = meanAbove(windowPowers, kAbsoluteGatePower);
    if (absolute.count == 0) {
        return 0.0;
    }
    const double threshold = std::max(
        lufsToPower(powerToLUFS(absolute.sum / static_cast<double>(absolute.count)) + kRangeGateLU),
        kAbsoluteGatePower);

    scratch.clear();
    for (const double p : windowPowers) {
        if (p > threshold) {
            scratch.push_back(p);
        }
    }
    if (scratch.size() < 2) {
        return 0.0;
    }

    std::vector<double>& loudness = scratch;
    std::transform(loudness.begin(), loudness.end(), loudness.begin(), powerToLUFS);
    std::sort(loudness.begin(), loudness.end());
    const double range =
        percentile(loudness, kRangeHighFraction) - percentile(loudness, kRangeLowFraction);
    return range < 0.0 ? 0.0 : range;
}

double loudnessRangeLU(std::span<const double> windowPowers) {
    std::vector<double> scratch;
    return loudnessRangeLU(windowPowers, scratch);
}

double percentile(std::span<const double> ascending, double fraction) {
    if (ascending.empty()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const double position = static_cast<double>(ascending.size() - 1) * fraction;
    const auto lo = static_cast<std::size_t>(std::floor(position));
    const auto hi = static_cast<std::size_t>(std::ceil(position));
    if (lo == hi) {
        return ascending[lo];
    }
    const double f = position - static_cast<double>(lo);
    return (1.0 - f) * ascending[lo] + f * ascending[hi];
}

}  // namespace orvinta
