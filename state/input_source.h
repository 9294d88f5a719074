#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <QVariantList>
#include <QVariantMap>

#include <optional>
#include <utility>

namespace orvinta {

// Which capture source a start creates: the microphone, the system audio, or the sound of one
// application (named by the id the sound server gives it). A plain value; two sources are equal
// when their raw values are ("microphone", "systemAudio", "application:<id>").
class InputSource {
public:
    enum class Kind { microphone, systemAudio, application };

    static const InputSource microphone;
    static const InputSource systemAudio;
    // `displayName` is what the menu shows; it takes no part in equality.
    static InputSource application(QString applicationId, QString displayName);

    Kind kind() const { return kind_; }
    // Empty for the two fixed inputs.
    const QString& applicationId() const { return applicationId_; }

    friend bool operator==(const InputSource& a, const InputSource& b) {
        return a.kind_ == b.kind_ && a.applicationId_ == b.applicationId_;
    }

private:
    InputSource(Kind kind, QString applicationId, QString applicationName)
        : kind_(kind),
          applicationId_(std::move(applicationId)),
          applicationName_(std::move(applicationName)) {}

    friend QString displayName(const InputSource& source);

    Kind kind_;
    QString applicationId_;
    QString applicationName_;
};

// The two fixed inputs, in picker order.
QList<InputSource> allInputSources();
// An application's raw value yields that application, its display name being its id.
std::optional<InputSource> inputSourceFromRawValue(QStringView rawValue);
QString rawValue(const InputSource& source);
QString displayName(const InputSource& source);
// A picker entry for QML: a map with rawValue and displayName.
QVariantMap inputSourceOption(const InputSource& source);
// The fixed inputs' picker entries in order.
QVariantList inputSourceOptions();

}  // namespace orvinta
