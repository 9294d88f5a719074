#pragma once

#include <QObject>

#include <optional>

#include "state/loudness_target.h"

namespace orvinta {

// The user's meter settings: the target preset and a target set by hand, the radar's outer
// edge and cycle, and the rules by which the TARGET and RANGE controls move them. Owned by
// AppState; UI thread only. Nothing is persisted.
class MeterSettings : public QObject {
    Q_OBJECT

public:
    explicit MeterSettings(QObject* parent = nullptr);

    LoudnessTarget target() const { return target_; }
    // Another preset drops a target set by hand; the same preset again keeps it.
    void setTarget(LoudnessTarget target);
    std::optional<double> targetOverrideLUFS() const { return targetOverrideLUFS_; }
    void setTargetOverrideLUFS(std::optional<double> lufs);
    double radarOuterLUFS() const { return radarOuterLUFS_; }
    void setRadarOuterLUFS(double lufs);
    double radarCycleSeconds() const { return radarCycleSeconds_; }
    void setRadarCycleSeconds(double seconds);

    // The target set by hand, else the preset's; none for `off`.
    std::optional<double> effectiveTargetLUFS() const;
    // From the effective target (-23 without one) to the outer edge, never below 1 LU while a
    // target exists.
    double radarRangeLU() const;

    // TARGET buttons and arrow keys: the effective target moves by deltaLU, within -40 … 0.
    void adjustTarget(double deltaLU);
    // RANGE buttons and Shift+arrow keys: the range moves by deltaLU, within 1 … 80 LU.
    void adjustRange(double deltaLU);

signals:
    void targetChanged();
    void targetOverrideLUFSChanged();
    void radarOuterLUFSChanged();
    void radarCycleSecondsChanged();
    void effectiveTargetLUFSChanged();
    void radarRangeLUChanged();

private:
    // Runs `change` and notifies the derived values that it moved.
    template <typename Change>
    void changeWithDerived(Change&& change);

    LoudnessTarget target_ = LoudnessTarget::ebuR128;
    std::optional<double> targetOverrideLUFS_;
    double radarOuterLUFS_ = -3.0;
    double radarCycleSeconds_ = 60.0;
};

}  // namespace orvinta
