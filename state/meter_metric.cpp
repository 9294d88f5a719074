#include "state/meter_metric.h"

#include <QVariantMap>

namespace orvinta {

QList<MeterMetric> allMeterMetrics() {
    return {MeterMetric::momentary, MeterMetric::shortTerm, MeterMetric::integrated};
}

std::optional<MeterMetric> meterMetricFromRawValue(QStringView rawValueText) {
    // Case-sensitive on purpose: the raw values are the selector's segment titles.
    for (MeterMetric metric : allMeterMetrics()) {
        if (rawValue(metric) == rawValueText) {
            return metric;
        }
    }
    return std::nullopt;
}

QString rawValue(MeterMetric metric) {
    switch (metric) {
        case MeterMetric::momentary:
            return QStringLiteral("M");
        case MeterMetric::shortTerm:
            return QStringLiteral("S");
        case MeterMetric::integrated:
            return QStringLiteral("I");
    }
    return {};
}

QString label(MeterMetric metric) {
    switch (metric) {
        case MeterMetric::momentary:
            return QStringLiteral("Momentary");
        case MeterMetric::shortTerm:
            return QStringLiteral("Short-term");
        case MeterMetric::integrated:
            return QStringLiteral("Integrated");
    }
    return {};
}

QVariantList meterMetricOptions() {
    QVariantList options;
    for (MeterMetric option : allMeterMetrics()) {
        options.append(QVariantMap{{QStringLiteral("rawValue"), rawValue(option)},
                                   {QStringLiteral("label"), label(option)}});
    }
    return options;
}

}  // namespace orvinta
