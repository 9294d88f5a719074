#include "ui/scale_fraction.h"

#include <cmath>
#include <cstddef>

namespace orvinta {

namespace {

bool risesStrictly(std::span<const double> values) {
    for (std::size_t i = 1; i < values.size(); ++i) {
        if (!(values[i] > values[i - 1])) {
            return false;
        }
    }
    return true;
}

// The fraction of tick i when n labels are spread evenly.
double evenFraction(std::size_t i, std::size_t n) {
    return static_cast<double>(i) / static_cast<double>(n - 1);
}

template <typename FractionOf>
double interpolate(double value, std::span<const double> ticks, FractionOf fractionOf) {
    const std::size_t n = ticks.size();
    if (std::isnan(value) || value <= ticks.front()) {
        return 0.0;
    }
    if (value >= ticks.back()) {
        return 1.0;
    }
    std::size_t upper = 1;
    while (value > ticks[upper]) {
        ++upper;
    }
    const double weight = (value - ticks[upper - 1]) / (ticks[upper] - ticks[upper - 1]);
    const double from = fractionOf(upper - 1, n);
    return from + weight * (fractionOf(upper, n) - from);
}

}  // namespace

double scaleFraction(double value, std::span<const double> tickValues,
                     std::span<const double> tickFractions) {
    if (tickValues.size() < 2 || tickFractions.size() != tickValues.size() ||
        !risesStrictly(tickValues) || !risesStrictly(tickFractions)) {
        return 0.0;
    }
    return interpolate(value, tickValues,
                       [tickFractions](std::size_t i, std::size_t) { return tickFractions[i]; });
}

double scaleFraction(double value, std::span<const double> tickValues) {
    if (tickValues.size() < 2 || !risesStrictly(tickValues)) {
        return 0.0;
    }
    return interpolate(value, tickValues, evenFraction);
}

}  // namespace orvinta
