#include "measurement/loudness_histogram.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "measurement/loudness_statistics.h"

namespace orvinta {

namespace {

constexpr int kBinCount =
    (LoudnessHistogram::ceilingLUFS - LoudnessHistogram::floorLUFS) * LoudnessHistogram::binsPerLU;
constexpr double kRelativeGateLU = -10.0;
constexpr double kRangeGateLU = -20.0;
constexpr double kRangeLowFraction = 0.10;
constexpr double kRangeHighFraction = 0.95;

}  // namespace

LoudnessHistogram::LoudnessHistogram()
    : bins(static_cast<std::size_t>(kBinCount)), lowestBin(kBinCount), highestBin(-1) {}

int LoudnessHistogram::binIndex(double lufs) const {
    const double position = std::floor((lufs - floorLUFS) * binsPerLU);
    return static_cast<int>(std::clamp(position, 0.0, static_cast<double>(kBinCount - 1)));
}

void LoudnessHistogram::add(double power) {
    ++valueCount;
    if (!(power > kAbsoluteGatePower)) {
        return;
    }
    const int index = binIndex(powerToLUFS(power));
    Bin& bin = bins[static_cast<std::size_t>(index)];
    ++bin.count;
    bin.powerSum += power;
    ++aboveAbsoluteGate.count;
    aboveAbsoluteGate.powerSum += power;
    lowestBin = std::min(lowestBin, index);
    highestBin = std::max(highestBin, index);
}

void LoudnessHistogram::clear() {
    std::fill(bins.begin(), bins.end(), Bin{});
    valueCount = 0;
    aboveAbsoluteGate = {};
    lowestBin = kBinCount;
    highestBin = -1;
}

LoudnessHistogram::Bin LoudnessHistogram::gatedTotal(double lufs, double thresholdPower) const {
    // A power just above the threshold may sit one bin below the threshold's own after
    // rounding; bins further down hold only powers below it.
    Bin total;
    for (int i = std::max(lowestBin, binIndex(lufs) - 1); i <= highestBin; ++i) {
        const Bin& bin = bins[static_cast<std::size_t>(i)];
        if (bin.count > 0 && bin.powerSum / static_cast<double>(bin.count) > thresholdPower) {
            total.count += bin.count;
            total.powerSum += bin.powerSum;
        }
    }
    return total;
}

double LoudnessHistogram::integratedLUFS() const {
    if (valueCount == 0) {
        return -std::numeric_limits<double>::infinity();
    }
    if (aboveAbsoluteGate.count == 0) {
        return -70.0;
    }
    const double gateLUFS =
        powerToLUFS(aboveAbsoluteGate.powerSum / static_cast<double>(aboveAbsoluteGate.count)) +
        kRelativeGateLU;
    const Bin kept = gatedTotal(gateLUFS, lufsToPower(gateLUFS));
    if (kept.count == 0) {
        return gateLUFS;
    }
    return powerToLUFS(kept.powerSum / static_cast<double>(kept.count));
}

double LoudnessHistogram::loudnessRangeLU() const {
    if (aboveAbsoluteGate.count < 2) {
        return 0.0;
    }
    const double gateLUFS =
        powerToLUFS(aboveAbsoluteGate.powerSum / static_cast<double>(aboveAbsoluteGate.count)) +
        kRangeGateLU;
    const double thresholdPower = lufsToPower(gateLUFS);
    const std::int64_t n = gatedTotal(gateLUFS, thresholdPower).count;
    if (n < 2) {
        return 0.0;
    }

    // The zero-based ranks on either side of each percentile's position, and their loudness.
    const double lowPosition = static_cast<double>(n - 1) * kRangeLowFraction;
    const double highPosition = static_cast<double>(n - 1) * kRangeHighFraction;
    const double ranks[4] = {std::floor(lowPosition), std::ceil(lowPosition),
                             std::floor(highPosition), std::ceil(highPosition)};
    double loudness[4] = {};
    bool found[4] = {};
    int remaining = 4;
    std::int64_t below = 0;  // gated values in the bins visited so far
    for (int i = std::max(lowestBin, binIndex(gateLUFS) - 1); i <= highestBin && remaining > 0;
         ++i) {
        const Bin& bin = bins[static_cast<std::size_t>(i)];
        if (bin.count == 0) {
            continue;
        }
        const double meanPower = bin.powerSum / static_cast<double>(bin.count);
        if (!(meanPower > thresholdPower)) {
            continue;
        }
        below += bin.count;
        for (int r = 0; r < 4; ++r) {
            if (!found[r] && ranks[r] < static_cast<double>(below)) {
                loudness[r] = powerToLUFS(meanPower);
                found[r] = true;
                --remaining;
            }
        }
    }
    const auto interpolate = [](double position, double lo, double hi) {
        const double f = position - std::floor(position);
        return f == 0.0 ? lo : (1.0 - f) * lo + f * hi;
    };
    const double range = interpolate(highPosition, loudness[2], loudness[3]) -
                         interpolate(lowPosition, loudness[0], loudness[1]);
    return std::max(range, 0.0);
}

}  // namespace orvinta
