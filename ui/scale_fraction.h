#pragma once

#include <span>

namespace orvinta {

// Where a value stands on a scale whose labels sit at known places: the fraction (0 ... 1) of
// the scale's length, linear between the two neighbouring ticks. `tickValues` rise strictly;
// `tickFractions` are the labels' places, as many as there are ticks and rising too. A value
// below the first tick (also minus infinity and NaN) reads 0, one above the last reads 1. With
// fewer than two ticks, or ticks or places that do not rise, the result is 0.
double scaleFraction(double value, std::span<const double> tickValues,
                     std::span<const double> tickFractions);

// The same with the labels spread evenly (tick i of n at i / (n - 1)). For evenly spaced tick
// values, and for the two ticks {bottom, top}, this is the linear map of the scale.
double scaleFraction(double value, std::span<const double> tickValues);

}  // namespace orvinta
