#include "state/meter_settings.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace orvinta {
namespace {

TEST(MeterSettings, TargetButtonsMoveTheTargetWithinMinusFortyAndZero) {
    const struct {
        LoudnessTarget preset;
        std::optional<double> override;
        double delta;
        double expected;
    } cases[] = {
        {LoudnessTarget::off, std::nullopt, +0.5, -22.5},  // no target: counted from -23
        {LoudnessTarget::off, std::nullopt, -0.5, -23.5},
        {LoudnessTarget::atsc, std::nullopt, +0.5, -23.5},
        {LoudnessTarget::ebuR128, -40.0, -0.5, -40.0},
        {LoudnessTarget::ebuR128, -0.2, +0.5, 0.0},
        {LoudnessTarget::ebuR128, 0.0, +0.5, 0.0},
    };
    for (const auto& c : cases) {
        MeterSettings settings;
        settings.setTarget(c.preset);
        settings.setTargetOverrideLUFS(c.override);
        settings.adjustTarget(c.delta);
        EXPECT_EQ(settings.targetOverrideLUFS(), c.expected) << c.expected;
        EXPECT_EQ(settings.effectiveTargetLUFS(), c.expected);
    }
}

TEST(MeterSettings, RangeButtonsMoveTheOuterEdgeWithinOneToEightyLU) {
    const struct {
        LoudnessTarget preset;
        double outer;
        double delta;
        double expectedOuter;
        double expectedRange;
    } cases[] = {
        {LoudnessTarget::ebuR128, -3.0, +0.5, -2.5, 20.5},
        {LoudnessTarget::ebuR128, -22.0, -0.5, -22.0, 1.0},
        {LoudnessTarget::ebuR128, -50.0, +0.5, -21.5, 1.5},  // an edge below target + 1 reads 1
        {LoudnessTarget::ebuR128, 57.0, +0.5, 57.0, 80.0},
        {LoudnessTarget::off, -3.0, -0.5, -0.5, 23.0},  // no target: 0 - (-23), moved from -23
    };
    for (const auto& c : cases) {
        MeterSettings settings;
        settings.setTarget(c.preset);
        settings.setRadarOuterLUFS(c.outer);
        settings.adjustRange(c.delta);
        EXPECT_EQ(settings.radarOuterLUFS(), c.expectedOuter) << c.outer;
        EXPECT_EQ(settings.radarRangeLU(), c.expectedRange) << c.outer;
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
    settings.setRadarCycleSeconds(120.0);
    settings.setRadarCycleSeconds(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(settings.radarCycleSeconds(), 120.0);
}

}  // namespace
}  // namespace orvinta
