#include "state/meter_settings.h"

#include <algorithm>
#include <cmath>

namespace orvinta {

namespace {

constexpr double kTargetAdjustMinLUFS = -40.0;
constexpr double kTargetAdjustMaxLUFS = 0.0;
constexpr double kRadarRangeMinLU = 1.0;
constexpr double kRadarRangeMaxLU = 80.0;
// The fallback target where none is set, for the radar range and the TARGET buttons.
constexpr double kFallbackTargetLUFS = -23.0;

}  // namespace

MeterSettings::MeterSettings(QObject* parent) : QObject(parent) {}

template <typename Change>
void MeterSettings::changeWithDerived(Change&& change) {
    const std::optional<double> effectiveBefore = effectiveTargetLUFS();
    const double rangeBefore = radarRangeLU();
    change();
    if (effectiveTargetLUFS() != effectiveBefore) {
        emit effectiveTargetLUFSChanged();
    }
    if (radarRangeLU() != rangeBefore) {
        emit radarRangeLUChanged();
    }
}

void MeterSettings::setTarget(LoudnessTarget target) {
    if (target == target_) {
        return;
    }
    changeWithDerived([&] {
        target_ = target;
        emit targetChanged();
        if (targetOverrideLUFS_) {
            targetOverrideLUFS_.reset();
            emit targetOverrideLUFSChanged();
        }
    });
}

void MeterSettings::setTargetOverrideLUFS(std::optional<double> lufs) {
    if ((lufs && !std::isfinite(*lufs)) || lufs == targetOverrideLUFS_) {
        return;
    }
    changeWithDerived([&] {
        targetOverrideLUFS_ = lufs;
        emit targetOverrideLUFSChanged();
    });
}

void MeterSettings::setRadarOuterLUFS(double lufs) {
    if (!std::isfinite(lufs) || lufs == radarOuterLUFS_) {
        return;
    }
    changeWithDerived([&] {
        radarOuterLUFS_ = lufs;
        emit radarOuterLUFSChanged();
    });
}

void MeterSettings::setRadarCycleSeconds(double seconds) {
    if (!std::isfinite(seconds) || seconds == radarCycleSeconds_) {
        return;
    }
    radarCycleSeconds_ = seconds;
    emit radarCycleSecondsChanged();
}

std::optional<double> MeterSettings::effectiveTargetLUFS() const {
    return targetOverrideLUFS_ ? targetOverrideLUFS_ : targetLUFS(target_);
}

double MeterSettings::radarRangeLU() const {
    const std::optional<double> target = effectiveTargetLUFS();
    if (!target) {
        return 0.0 - kFallbackTargetLUFS;
    }
    return std::max(radarOuterLUFS_, *target + 1.0) - *target;
}

void MeterSettings::adjustTarget(double deltaLU) {
    if (!std::isfinite(deltaLU)) {
        return;
    }
    const double target = effectiveTargetLUFS().value_or(kFallbackTargetLUFS);
    setTargetOverrideLUFS(std::clamp(target + deltaLU, kTargetAdjustMinLUFS, kTargetAdjustMaxLUFS));
}

void MeterSettings::adjustRange(double deltaLU) {
    if (!std::isfinite(deltaLU)) {
        return;
    }
    const double target = effectiveTargetLUFS().value_or(kFallbackTargetLUFS);
    const double range = std::clamp(radarRangeLU() + deltaLU, kRadarRangeMinLU, kRadarRangeMaxLU);
    setRadarOuterLUFS(target + range);
}

}  // namespace orvinta
