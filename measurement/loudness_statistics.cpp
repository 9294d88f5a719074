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

double lufsToPower(double lufs) {
    return std::pow(10.0, (lufs - kLoudnessOffset) / 10.0);
}

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
    const std::size_t n = scratch.size();
    if (n < 2) {
        return 0.0;
    }

    // Loudness grows with power, so the ranks of the powers are the ranks of the loudness
    // values: pick the four powers the two percentiles need and convert only those.
    const double lowPosition = static_cast<double>(n - 1) * kRangeLowFraction;
    const double highPosition = static_cast<double>(n - 1) * kRangeHighFraction;
    const auto lowLo = static_cast<std::size_t>(std::floor(lowPosition));
    const auto lowHi = static_cast<std::size_t>(std::ceil(lowPosition));
    const auto highLo = static_cast<std::size_t>(std::floor(highPosition));
    const auto highHi = static_cast<std::size_t>(std::ceil(highPosition));

    const auto begin = scratch.begin();
    const auto at = [&](std::size_t rank) { return begin + static_cast<std::ptrdiff_t>(rank); };
    // After this, scratch[highLo] holds its rank, everything before it is not larger and
    // everything after it is not smaller.
    std::nth_element(begin, at(highLo), scratch.end());
    const double highLoPower = scratch[highLo];
    const double highHiPower =
        highHi == highLo ? highLoPower : *std::min_element(at(highLo + 1), scratch.end());
    double lowLoPower = highLoPower;
    if (lowLo < highLo) {
        std::nth_element(begin, at(lowLo), at(highLo));
        lowLoPower = scratch[lowLo];
    }
    double lowHiPower = lowLoPower;
    if (lowHi != lowLo) {
        if (lowHi < highLo) {
            lowHiPower = *std::min_element(at(lowLo + 1), at(highLo));
        } else if (lowHi == highLo) {
            lowHiPower = highLoPower;
        } else {
            lowHiPower = highHiPower;
        }
    }

    const double low[2] = {powerToLUFS(lowLoPower), powerToLUFS(lowHiPower)};
    const double high[2] = {powerToLUFS(highLoPower), powerToLUFS(highHiPower)};
    const double range = percentile(high, highPosition - std::floor(highPosition)) -
                         percentile(low, lowPosition - std::floor(lowPosition));
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
