#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <QVariantList>

#include <optional>

namespace orvinta {

// Which capture source a start creates, in picker order.
enum class InputSource { microphone, systemAudio };

QList<InputSource> allInputSources();
std::optional<InputSource> inputSourceFromRawValue(QStringView rawValue);
QString rawValue(InputSource source);
QString displayName(InputSource source);
// The input picker's entries in order, for QML: maps with rawValue and displayName.
QVariantList inputSourceOptions();

}  // namespace orvinta
