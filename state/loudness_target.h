#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <QVariantList>

#include <optional>

namespace orvinta {

// The loudness target presets, in menu order.
enum class LoudnessTarget { ebuR128, atsc, streaming16, streaming14, off };

QList<LoudnessTarget> allLoudnessTargets();
std::optional<LoudnessTarget> loudnessTargetFromRawValue(QStringView rawValue);
QString rawValue(LoudnessTarget target);
// The preset's target loudness in LUFS; nothing for `off`.
std::optional<double> targetLUFS(LoudnessTarget target);
QString displayName(LoudnessTarget target);
QString shortName(LoudnessTarget target);
QString menuLabel(LoudnessTarget target);
// The preset menu's entries in order, for QML: maps with rawValue, displayName, shortName,
// menuLabel and targetLUFS (undefined for `off`).
QVariantList loudnessTargetOptions();

}  // namespace orvinta
