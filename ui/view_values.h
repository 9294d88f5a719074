#pragma once

#include <QVariant>

#include <cmath>
#include <optional>

namespace orvinta {

// An optional double handed over from QML: undefined, null or anything that is not a number
// reads as absent.
inline std::optional<double> optionalDouble(const QVariant& value) {
    if (!value.isValid() || value.isNull()) {
        return std::nullopt;
    }
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok) {
        return std::nullopt;
    }
    return number;
}

// Equality for property setters: two NaNs count as the same value, so assigning NaN twice does
// not repaint twice.
inline bool sameDouble(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

// (value - minValue) / (maxValue - minValue) clamped to 0 ... 1; 0 for anything that is not a
// number.
inline double clampedFraction(double value, double minValue, double maxValue) {
    const double f = (value - minValue) / (maxValue - minValue);
    if (std::isnan(f) || f < 0.0) {
        return 0.0;
    }
    return f > 1.0 ? 1.0 : f;
}

}  // namespace orvinta
