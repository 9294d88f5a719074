#pragma once

#include <QObject>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

#include <optional>

namespace orvinta {

// The loudness scale that the dashboard's meter bar and radar share. With a target T and a
// radar range R it runs from T - 4R to max(radar outer level, T + 1), so the target sits at
// 80 % of its height; without a target it runs from -60 to 0 LUFS.
double meterScaleBottom(std::optional<double> targetLUFS, double rangeLU);
double meterScaleTop(std::optional<double> targetLUFS, double radarOuterLUFS);

// The target the TARGET chip shows: the target, or -23 LUFS (the initial preset) without one.
double chipTargetLUFS(std::optional<double> targetLUFS);

// The same for QML, where an absent target is undefined. Stateless; UI thread.
class MeterScale : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    explicit MeterScale(QObject* parent = nullptr);

    Q_INVOKABLE static double bottom(const QVariant& targetLUFS, double rangeLU);
    Q_INVOKABLE static double top(const QVariant& targetLUFS, double radarOuterLUFS);
    Q_INVOKABLE static double chipTarget(const QVariant& targetLUFS);
};

}  // namespace orvinta
