#pragma once

#include <limits>
#include <optional>

namespace orvinta {

// The held peak of a level meter: it follows the value upward at once, stays put for a hold
// time after its last raise, then falls by a fixed step on every tick until it has left the
// scale at the bottom. Owned by one meter view on the UI thread.
class PeakHold {
public:
    static constexpr double kDistantPast = -std::numeric_limits<double>::infinity();

    double peakValue() const { return peakValue_; }
    double peakTimestamp() const { return peakTimestamp_; }

    // A finite value at or above the held peak becomes the peak and restarts the hold (an equal
    // value restarts it too). Returns whether the peak or its timestamp changed.
    bool raise(double value, double now);

    // One tick at time now: once more than holdSeconds have passed since the last raise, a peak
    // above minValue falls by step, but not below minValue - 1. A peak at or below minValue
    // stays where it is. A step that is not positive leaves the peak in place. The peak never
    // falls below a finite currentValue: a steady level (one that does not change, and so never
    // raises the peak again) keeps its peak line on top of the bar instead of letting it sink
    // through the lit segments; reaching it counts as a raise. Returns whether the peak moved.
    bool decay(double now, double minValue, double holdSeconds, double step,
               double currentValue = -std::numeric_limits<double>::infinity());

    // Forgets the peak: minus infinity, last raised in the distant past.
    void clear();

private:
    double peakValue_ = -std::numeric_limits<double>::infinity();
    double peakTimestamp_ = kDistantPast;
};

// Where the held peak stands on the scale, 0 ... 1, or nothing when no peak is drawn (the peak
// is not finite or not above minValue).
std::optional<double> peakFraction(double peakValue, double minValue, double maxValue);

}  // namespace orvinta
