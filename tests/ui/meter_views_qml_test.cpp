// The meter bars declared in QML the way the dashboard declares them: bindings to a source
// object, an identity bound to a reset counter and undefined for an absent target.
#include <QQuickItem>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <limits>

#include "tests/ui/ui_test_support.h"
#include "ui/meter_bar_view.h"
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
    property var target: undefined
    property int resetSignal: 0
    MeterBarView {
        objectName: "meter"; width: 132; height: 520
        value: root.momentary; targetValue: root.target; identity: root.resetSignal
    }
    TruePeakBarView {
        objectName: "truePeak"; width: 600; value: root.momentary + 10; identity: root.resetSignal
    }
}
)";

TEST(MeterViewsQml, FirstValuesHoldNoPeakUndefinedMeansNoTargetAndResetStartsAfresh) {
    constexpr double kNone = -std::numeric_limits<double>::infinity();
    test::ManualClock clock;
    test::QmlWindow window;
    ASSERT_TRUE(window.load(kDashboardQml, QSize(760, 560), false));
    auto* meter = window.find<MeterBarView>("meter");
    auto* truePeak = window.find<TruePeakBarView>("truePeak");
    ASSERT_TRUE(meter && truePeak);
    EXPECT_EQ(meter->peakValue(), kNone);
    EXPECT_EQ(truePeak->peakValue(), kNone);
    EXPECT_FALSE(meter->targetValue().isValid());

    window.root()->setProperty("momentary", -20.0);
    window.root()->setProperty("target", -23.0);
    EXPECT_DOUBLE_EQ(meter->peakValue(), -20.0);
    EXPECT_DOUBLE_EQ(truePeak->peakValue(), -10.0);
    EXPECT_DOUBLE_EQ(meter->targetValue().toDouble(), -23.0);

    window.root()->setProperty("resetSignal", 1);
    EXPECT_EQ(meter->peakValue(), kNone);
    EXPECT_EQ(truePeak->peakValue(), kNone);
}

}  // namespace
}  // namespace orvinta
