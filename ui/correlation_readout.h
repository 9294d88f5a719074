#pragma once

#include <QColor>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

#include <optional>

namespace orvinta {

// A correlation as QML hands it over: a number, or undefined/null when there is none.
// A value that is not a finite number counts as absent.
std::optional<double> correlationFromVariant(const QVariant& value);

// The numeric correlation read-out: "%+.2f" (the sign always shown, e.g. "+0.87"), or the em
// dash when the correlation is absent.
QString correlationReadoutText(std::optional<double> correlation);

// Colour of the read-out by the magnitude a = |correlation|: red above 0.92, yellow above 0.80,
// green above 0.65, blue-green otherwise; caption white (0.75) when absent.
QColor correlationReadoutColor(std::optional<double> correlation);

// The read-out's text and colour for QML, so the goniometer panel formats exactly like the C++
// functions above. Stateless; UI thread.
class CorrelationReadout : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    explicit CorrelationReadout(QObject* parent = nullptr);

    Q_INVOKABLE static QString text(const QVariant& correlation);
    Q_INVOKABLE static QColor color(const QVariant& correlation);
    // The value the correlation bar shows: the correlation, or 0.0 when it is absent.
    Q_INVOKABLE static double barValue(const QVariant& correlation);
};

}  // namespace orvinta
