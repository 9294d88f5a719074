#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <QVariantList>

#include <optional>

namespace orvinta {

// Which loudness the large read-out shows; the raw values are the selector's segment titles.
enum class MeterMetric { momentary, shortTerm, integrated };

QList<MeterMetric> allMeterMetrics();
std::optional<MeterMetric> meterMetricFromRawValue(QStringView rawValue);
QString rawValue(MeterMetric metric);
QString label(MeterMetric metric);
// The metric selector's segments in order, for QML: maps with rawValue ("M", "S", "I") and
// label.
QVariantList meterMetricOptions();

}  // namespace orvinta
