#include "ui/meter_scale.h"

#include <algorithm>

#include "ui/view_values.h"

namespace orvinta {

namespace {

constexpr double kBottomWithoutTarget = -60.0;
constexpr double kTopWithoutTarget = 0.0;
constexpr double kFallbackTargetLUFS = -23.0;

}  // namespace

double meterScaleBottom(std::optional<double> targetLUFS, double rangeLU) {
    return targetLUFS ? *targetLUFS - 4.0 * rangeLU : kBottomWithoutTarget;
}

double meterScaleTop(std::optional<double> targetLUFS, double radarOuterLUFS) {
    return targetLUFS ? std::max(radarOuterLUFS, *targetLUFS + 1.0) : kTopWithoutTarget;
}

double chipTargetLUFS(std::optional<double> targetLUFS) {
    return targetLUFS.value_or(kFallbackTargetLUFS);
}

MeterScale::MeterScale(QObject* parent) : QObject(parent) {}

double MeterScale::bottom(const QVariant& targetLUFS, double rangeLU) {
    return meterScaleBottom(optionalDouble(targetLUFS), rangeLU);
}

double MeterScale::top(const QVariant& targetLUFS, double radarOuterLUFS) {
    return meterScaleTop(optionalDouble(targetLUFS), radarOuterLUFS);
}

double MeterScale::chipTarget(const QVariant& targetLUFS) {
    return chipTargetLUFS(optionalDouble(targetLUFS));
}

}  // namespace orvinta
