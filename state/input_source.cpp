#include "state/input_source.h"

#include <QVariantMap>

namespace orvinta {

QList<InputSource> allInputSources() {
    return {InputSource::microphone, InputSource::systemAudio};
}

std::optional<InputSource> inputSourceFromRawValue(QStringView rawValueText) {
    for (InputSource source : allInputSources()) {
        if (rawValue(source) == rawValueText) {
            return source;
        }
    }
    return std::nullopt;
}

QString rawValue(InputSource source) {
    switch (source) {
        case InputSource::microphone:
            return QStringLiteral("microphone");
        case InputSource::systemAudio:
            return QStringLiteral("systemAudio");
    }
    return {};
}

QString displayName(InputSource source) {
    switch (source) {
        case InputSource::microphone:
            return QStringLiteral("Microphone");
        case InputSource::systemAudio:
            return QStringLiteral("System Audio");
    }
    return {};
}

QVariantList inputSourceOptions() {
    QVariantList options;
    for (InputSource option : allInputSources()) {
        options.append(QVariantMap{{QStringLiteral("rawValue"), rawValue(option)},
                                   {QStringLiteral("displayName"), displayName(option)}});
    }
    return options;
}

}  // namespace orvinta
