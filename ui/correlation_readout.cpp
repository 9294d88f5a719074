#include "ui/correlation_readout.h"

#include <cmath>

#include "ui/theme.h"
#include "ui/view_values.h"

namespace orvinta {

std::optional<double> correlationFromVariant(const QVariant& value) {
    const std::optional<double> number = optionalDouble(value);
    return number && std::isfinite(*number) ? number : std::nullopt;
}

QString correlationReadoutText(std::optional<double> correlation) {
    if (!correlation || !std::isfinite(*correlation)) {
        return Theme::missingValueText();
    }
    return QString::asprintf("%+.2f", *correlation);
}

QColor correlationReadoutColor(std::optional<double> correlation) {
    if (!correlation || !std::isfinite(*correlation)) {
        return Theme::caption();
    }
    return segmentPaletteColor(std::fabs(*correlation));
}

CorrelationReadout::CorrelationReadout(QObject* parent) : QObject(parent) {}

QString CorrelationReadout::text(const QVariant& correlation) {
    return correlationReadoutText(correlationFromVariant(correlation));
}

QColor CorrelationReadout::color(const QVariant& correlation) {
    return correlationReadoutColor(correlationFromVariant(correlation));
}

double CorrelationReadout::barValue(const QVariant& correlation) {
    return correlationFromVariant(correlation).value_or(0.0);
}

}  // namespace orvinta
