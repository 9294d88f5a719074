// The meter bars and the radar declared in QML the way the dashboard declares them: bindings to
// a source object, an identity bound to a reset counter, undefined for an absent target, and the
// scene graph painting them into a window.
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <limits>

#include "tests/ui/ui_test_support.h"
#include "ui/meter_bar_view.h"
#include "ui/radar_loudness_view.h"
#include "ui/theme.h"
#include "ui/true_peak_bar_view.h"

Q_IMPORT_QML_PLUGIN(Orvinta_UiPlugin)

namespace orvinta {
namespace {

using test::at;
using test::distance;
using test::ManualClock;

constexpr char kDashboardQml[] = R"(
import QtQuick
import Orvinta.Ui
Rectangle {
    id: root
    width: 760; height: 560
    color: Theme.windowBackground
    property real momentary: -14
    property real elapsed: 3.0
    property var target: undefined
    property int resetSignal: 0
    MeterBarView {
        objectName: "meter"
        x: 0; y: 0; width: 132; height: 520
        value: root.momentary
        minValue: -60; maxValue: 0
        targetValue: root.target
        identity: root.resetSignal
    }
    TruePeakBarView {
        objectName: "truePeak"
        x: 140; y: 0; width: 600
        label: "L"
        value: root.momentary + 10
        identity: root.resetSignal
    }
    RadarLoudnessView {
        objectName: "radar"
        x: 140; y: 100; width: 285; height: 285
        momentaryLUFS: root.momentary
        elapsedSeconds: root.elapsed
        cycleSeconds: 60
        targetLUFS: root.target
        minLUFS: -60; maxLUFS: 0
        bucketCount: 180
        identity: root.resetSignal
    }
}
)";

class MeterViewsQmlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(window.load(kDashboardQml, QSize(760, 560), false));
        root = window.root();
        meter = window.find<MeterBarView>("meter");
        truePeak = window.find<TruePeakBarView>("truePeak");
        radar = window.find<RadarLoudnessView>("radar");
        ASSERT_TRUE(meter && truePeak && radar);
    }

    // No held peaks and no radar trace.
    void expectFresh() const {
        EXPECT_EQ(meter->peakValue(), -std::numeric_limits<double>::infinity());
        EXPECT_EQ(truePeak->peakValue(), -std::numeric_limits<double>::infinity());
        for (const auto& bucket : radar->buckets()) {
            EXPECT_FALSE(bucket.has_value());
        }
    }

    ManualClock clock;
    test::QmlWindow window;
    QQuickItem* root = nullptr;
    MeterBarView* meter = nullptr;
    TruePeakBarView* truePeak = nullptr;
    RadarLoudnessView* radar = nullptr;
};

TEST_F(MeterViewsQmlTest, FirstValuesNeitherHoldAPeakNorRecordAndUndefinedMeansNoTarget) {
    EXPECT_DOUBLE_EQ(meter->value(), -14.0);
    expectFresh();
    // The true-peak bar picked up its defaults: 48 segments from -60 to 0 and eight ticks.
    EXPECT_EQ(truePeak->segmentCount(), 48);
    EXPECT_EQ(truePeak->scaleTicks().size(), 8);

    root->setProperty("momentary", -20.0);
    root->setProperty("elapsed", 3.1);
    EXPECT_DOUBLE_EQ(meter->peakValue(), -20.0);
    EXPECT_DOUBLE_EQ(truePeak->peakValue(), -10.0);
    EXPECT_EQ(radar->buckets()[9], -20.0);

    // An undefined target is absent; a number is a target.
    EXPECT_FALSE(meter->targetValue().isValid());
    EXPECT_FALSE(radar->targetLUFS().isValid());
    root->setProperty("target", -23.0);
    EXPECT_DOUBLE_EQ(meter->targetValue().toDouble(), -23.0);
    EXPECT_DOUBLE_EQ(radar->targetLUFS().toDouble(), -23.0);
}

TEST_F(MeterViewsQmlTest, ResetCounterGivesFreshPeaksAndAnEmptyTrace) {
    root->setProperty("momentary", -10.0);
    root->setProperty("elapsed", 3.2);
    root->setProperty("momentary", -30.0);
    ASSERT_DOUBLE_EQ(meter->peakValue(), -10.0);

    root->setProperty("resetSignal", 1);
    expectFresh();
}

TEST_F(MeterViewsQmlTest, SceneGraphPaintsTheBarsWhereTheyStand) {
    window.show();
    root->setProperty("momentary", -6.0);  // true peak +4: every segment lit
    const QImage image = window.grab();
    ASSERT_FALSE(image.isNull());
    const QImage frame = image.convertToFormat(QImage::Format_ARGB32);
    const double scale = frame.width() / 760.0;
    // Top segment of the loudness bar: -6 on -60...0 lights 39 of 44, so 43 is dark and 38 lit.
    const QRectF bar = meter->barFrame();
    const QRectF lit = meterSegmentRect(bar, 38, 44);
    EXPECT_LE(distance(at(frame, lit.center() * scale), meterSegmentColor(38, 44)), 6);
    // Right end of the true-peak bar: red.
    const QRectF peakBar = truePeakBarLayout(truePeak->size()).bar;
    const QRectF last = truePeakSegmentRect(peakBar, 46, 48);
    EXPECT_LE(distance(at(frame, (140.0 + last.center().x()) * scale, last.center().y() * scale),
                       Theme::red()),
              6);
}

}  // namespace
}  // namespace orvinta
