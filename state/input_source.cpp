#include "state/input_source.h"

#include <QVariantMap>

#include <utility>

namespace orvinta {

namespace {

constexpr QLatin1String kApplicationPrefix("application:");

}  // namespace

const InputSource InputSource::microphone{Kind::microphone, {}, {}};
const InputSource InputSource::systemAudio{Kind::systemAudio, {}, {}};

InputSource InputSource::application(QString applicationId, QString displayName) {
    return {Kind::application, std::move(applicationId), std::move(displayName)};
}

QList<InputSource> allInputSources() {
    return {InputSource::microphone, InputSource::systemAudio};
}

std::optional<InputSource> inputSourceFromRawValue(QStringView rawValueText) {
    for (const InputSource& source : allInputSources()) {
        if (rawValue(source) == rawValueText) {
            return source;
        }
    }
    if (rawValueText.startsWith(kApplicationPrefix) &&
        rawValueText.size() > kApplicationPrefix.size()) {
        const QString id = rawValueText.mid(kApplicationPrefix.size()).toString();
        return InputSource::application(id, id);
    }
    return std::nullopt;
}

QString rawValue(const InputSource& source) {
    switch (source.kind()) {
        case InputSource::Kind::microphone:
            return QStringLiteral("microphone");
        case InputSource::Kind::systemAudio:
            return QStringLiteral("systemAudio");
        case InputSource::Kind::application:
            return QString(kApplicationPrefix) + source.applicationId();
    }
    return {};
}

QString displayName(const InputSource& source) {
    switch (source.kind()) {
        case InputSource::Kind::microphone:
            return QStringLiteral("Microphone");
        case InputSource::Kind::systemAudio:
            return QStringLiteral("System Audio");
        case InputSource::Kind::application:
            return source.applicationName_.isEmpty() ? source.applicationId_
                                                     : source.applicationName_;
    }
    return {};
}

QVariantMap inputSourceOption(const InputSource& source) {
    return {{QStringLiteral("rawValue"), rawValue(source)},
            {QStringLiteral("displayName"), displayName(source)}};
}

QVariantList inputSourceOptions() {
    QVariantList options;
    for (const InputSource& option : allInputSources()) {
        options.append(inputSourceOption(option));
    }
    return options;
}

}  // namespace orvinta
