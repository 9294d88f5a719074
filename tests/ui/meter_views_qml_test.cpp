// The meter bars and the radar declared in QML the way the dashboard declares them: bindings to
// a source object, an identity bound to a reset counter and undefined for an absent target.
#include <QQuickItem>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <limits>

#include "tests/ui/ui_test_support.h"
#include "ui/meter_bar_view.h"
#include "ui/radar_loudness_view.h"
#include "ui/true_peak_bar_view.h"

Q_IMPORT_QML_PLUGIN(Orvinta_UiPlugin)

namespace orvinta {
namespace {

constexpr char kDashboardQml[] = R"(
import QtQuick
import Orvinta.Ui
Item {
    id: root
    property real momentary: -14
    property real elapsed: 3.0
    property var target: undefined
    property int resetSignal: 0
    MeterBarView {
        objectName: "meter"; width: 132; height: 520
        value: root.momentary; targetValue: root.target; identity: root.resetSignal
    }
    TruePeakBarView {
        objectName: "truePeak"; width: 600
        value: root.momentary + 10; identity: root.resetSignal
    }
    RadarLoudnessView {
        objectName: "radar"; width: 285; height: 285
        momentaryLUFS: root.momentary; elapsedSeconds: root.elapsed; cycleSeconds: 60
        targetLUFS: root.target; minLUFS: -60; maxLUFS: 0; bucketCount: 180
        identity: root.resetSignal
    }
}
)";

TEST(MeterViewsQml, FirstValuesHoldNoPeakUndefinedMeansNoTargetAndResetStartsAfresh) {
    test::ManualClock clock;
    test::QmlWindow window;
    ASSERT_TRUE(window.load(kDashboardQml, QSize(760, 560), false));
    QQuickItem* root = window.root();
    auto* meter = window.find<MeterBarView>("meter");
    auto* truePeak = window.find<TruePeakBarView>("truePeak");
    auto* radar = window.find<RadarLoudnessView>("radar");
    ASSERT_TRUE(meter && truePeak && radar);
    auto expectFresh = [&] {
        EXPECT_EQ(meter->peakValue(), -std::numeric_limits<double>::infinity());
        EXPECT_EQ(truePeak->peakValue(), -std::numeric_limits<double>::infinity());
        for (const auto& bucket : radar->buckets()) {
            EXPECT_FALSE(bucket.has_value());
        }
    };
    expectFresh();

    root->setProperty("momentary", -20.0);
    root->setProperty("elapsed", 3.1);
    EXPECT_DOUBLE_EQ(meter->peakValue(), -20.0);
    EXPECT_DOUBLE_EQ(truePeak->peakValue(), -10.0);
    EXPECT_EQ(radar->buckets()[9], -20.0);

    EXPECT_FALSE(meter->targetValue().isValid());
    EXPECT_FALSE(radar->targetLUFS().isValid());
    root->setProperty("target", -23.0);
    EXPECT_DOUBLE_EQ(meter->targetValue().toDouble(), -23.0);
    EXPECT_DOUBLE_EQ(radar->targetLUFS().toDouble(), -23.0);

    root->setProperty("resetSignal", 1);
    expectFresh();
}

}  // namespace
}  // namespace orvinta
