#include "state/input_source.h"

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

}  // namespace orvinta
