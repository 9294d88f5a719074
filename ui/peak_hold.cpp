#include "ui/peak_hold.h"

#include <algorithm>
#include <cmath>

#include "ui/view_values.h"

namespace orvinta {

bool PeakHold::raise(double value, double now) {
    if (!std::isfinite(value) || !(peakValue_ <= value)) {
        return false;
    }
    peakValue_ = value;
    peakTimestamp_ = now;
    return true;
}

bool PeakHold::decay(double now, double minValue, double holdSeconds, double step,
                     double currentValue) {
    if (!std::isfinite(peakValue_) || !(minValue < peakValue_) || !(step > 0.0)) {
        return false;
    }
    if (!(now - peakTimestamp_ > holdSeconds)) {
        return false;
    }
    const double fallen = std::max(peakValue_ - step, minValue - 1.0);
    if (std::isfinite(currentValue) && currentValue >= fallen) {
        const bool moved = currentValue != peakValue_;
        peakValue_ = currentValue;
        peakTimestamp_ = now;
        return moved;
    }
    peakValue_ = fallen;
    return true;
}

void PeakHold::clear() {
    peakValue_ = -std::numeric_limits<double>::infinity();
    peakTimestamp_ = kDistantPast;
}

std::optional<double> peakFraction(double peakValue, double minValue, double maxValue) {
    if (!std::isfinite(peakValue) || !(peakValue > minValue)) {
        return std::nullopt;
    }
    return clampedFraction(peakValue, minValue, maxValue);
}

}  // namespace orvinta
