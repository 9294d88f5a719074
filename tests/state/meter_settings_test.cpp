#include "state/meter_settings.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace orvinta {
namespace {

struct Step {
    LoudnessTarget preset;
    std::optional<double> start;  // the override for TARGET, the outer edge for RANGE
    double delta;
    double expected;  // the override after TARGET, the outer edge after RANGE
};

TEST(MeterSettings, TargetButtonsMoveTheTargetWithinMinusFortyAndZero) {
    for (const Step& step : {Step{LoudnessTarget::off, std::nullopt, +0.5, -22.5},  // from -23
                             Step{LoudnessTarget::off, std::nullopt, -0.5, -23.5},
                             Step{LoudnessTarget::atsc, std::nullopt, +0.5, -23.5},
                             Step{LoudnessTarget::ebuR128, -40.0, -0.5, -40.0},
                             Step{LoudnessTarget::ebuR128, -0.2, +0.5, 0.0}}) {
        MeterSettings settings;
        settings.setTarget(step.preset);
        settings.setTargetOverrideLUFS(step.start);
        settings.adjustTarget(step.delta);
        EXPECT_EQ(settings.effectiveTargetLUFS(), step.expected);
    }
}

TEST(MeterSettings, RangeButtonsMoveTheOuterEdgeWithinOneToEightyLU) {
    // The range runs from the target up to the outer edge; without a target it reads 23 LU
    // (0 - (-23)) and moves from there.
    for (const Step& step : {Step{LoudnessTarget::ebuR128, -3.0, +0.5, -2.5},
                             Step{LoudnessTarget::ebuR128, -22.0, -0.5, -22.0},  // 1 LU at least
                             Step{LoudnessTarget::ebuR128, -50.0, +0.5, -21.5},  // reads 1 LU
                             Step{LoudnessTarget::ebuR128, 57.0, +0.5, 57.0},    // 80 LU at most
                             Step{LoudnessTarget::off, -3.0, -0.5, -0.5}}) {
        MeterSettings settings;
        settings.setTarget(step.preset);
        settings.setRadarOuterLUFS(*step.start);
        settings.adjustRange(step.delta);
        EXPECT_EQ(settings.radarOuterLUFS(), step.expected) << *step.start;
    }
}

TEST(MeterSettings, PresetsDropOnlyAnotherPresetsOverrideAndDerivedValuesNotifyOnChange) {
    MeterSettings settings;
    QSignalSpy effective(&settings, &MeterSettings::effectiveTargetLUFSChanged);
    QSignalSpy range(&settings, &MeterSettings::radarRangeLUChanged);
    const struct {
        std::function<void()> change;
        std::optional<double> override;
        int effective, range;
    } steps[] = {
        {[&] { settings.adjustTarget(+0.5); }, -22.5, 1, 1},
        {[&] { settings.setTarget(LoudnessTarget::ebuR128); }, -22.5, 1, 1},  // same preset
        {[&] { settings.setTarget(LoudnessTarget::atsc); }, std::nullopt, 2, 2},
        {[&] { settings.setTargetOverrideLUFS(-24.0); }, -24.0, 2, 2},  // same effective target
        {[&] { settings.setRadarOuterLUFS(-30.0); }, -24.0, 2, 3},      // range 21 -> 1
        {[&] { settings.setRadarOuterLUFS(-40.0); }, -24.0, 2, 3},      // still 1
        {[&] { settings.setTargetOverrideLUFS(std::numeric_limits<double>::infinity()); }, -24.0, 2,
         3},
    };
    for (const auto& step : steps) {
        step.change();
        EXPECT_EQ(settings.targetOverrideLUFS(), step.override);
        EXPECT_EQ(effective.count(), step.effective);
        EXPECT_EQ(range.count(), step.range);
    }
}

}  // namespace
}  // namespace orvinta
