// The goniometer and spectrum composites loaded through QML, with the opaque measurement types
// handed over from C++ as context properties, the way the dashboard binds them from AppState.
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <cmath>

#include "state/goniometer_point_list.h"
#include "state/spectrum_rows.h"
#include "tests/ui/ui_test_support.h"
#include "ui/correlation_meter_bar.h"
#include "ui/goniometer_canvas_view.h"
#include "ui/spectrum_canvas_view.h"
#include "ui/theme.h"

Q_IMPORT_QML_PLUGIN(Orvinta_UiPlugin)

namespace orvinta {
namespace {

using test::colorNear;
using test::QmlWindow;

constexpr char kGoniometerQml[] = R"(
import QtQuick
import Orvinta.Ui
Rectangle {
    color: "black"
    property alias scope: scope
    GoniometerView {
        id: scope
        anchors.fill: parent
        points: testPoints
        correlation: testCorrelation
    }
}
)";

TEST(GoniometerViewQml, PointsFromCppReachTheCanvasAndLandWhereTheMappingSays) {
    const GoniometerPointList points(std::vector<GoniometerPoint>{{0.5f, 0.5f}});
    QmlWindow window({{QStringLiteral("testPoints"), QVariant::fromValue(points)},
                      {QStringLiteral("testCorrelation"), QVariant(0.87)}});
    ASSERT_TRUE(window.load(kGoniometerQml, QSize(292, 220)));
    auto* canvas = window.find<GoniometerCanvasView>();
    auto* bar = window.find<CorrelationMeterBar>();
    QObject* readout = window.find("correlationReadout");
    ASSERT_TRUE(canvas && bar && readout);
    EXPECT_EQ(canvas->points(), points);
    // Square, as wide as the correlation column (110) and the spacing (24) leave of 292.
    EXPECT_DOUBLE_EQ(canvas->width(), 158.0);
    EXPECT_DOUBLE_EQ(canvas->height(), 158.0);

    const QImage image = window.grab();
    const QSizeF size(canvas->width(), canvas->height());
    const QPointF dot = canvas->mapToScene(goniometerPosition({0.5f, 0.5f}, size));
    QColor cyan = Theme::cyan();
    cyan.setAlphaF(0.85f);
    EXPECT_TRUE(colorNear(image, static_cast<int>(dot.x()), static_cast<int>(dot.y()),
                          test::over(cyan, Theme::canvasBackground()), 1, 40));

    EXPECT_DOUBLE_EQ(bar->value(), 0.87);
    EXPECT_EQ(readout->property("text").toString(), QStringLiteral("+0.87"));
    // QML keeps colours at 8 bits per channel.
    EXPECT_EQ(readout->property("color").value<QColor>().rgba(), Theme::segmentYellow().rgba());
}

constexpr char kSpectrumQml[] = R"(
import QtQuick
import Orvinta.Ui
Rectangle {
    color: "black"
    SpectrumAnalyzerView {
        objectName: "analyzer"
        anchors.fill: parent
        spectrumDB: testRows
    }
}
)";

TEST(SpectrumAnalyzerViewQml, MonoHidesTheRightLegendAndTheSelectorSetsTheMode) {
    const SpectrumRows mono(std::vector<std::vector<float>>{std::vector<float>(192, -30.0f)});
    QmlWindow window({{QStringLiteral("testRows"), QVariant::fromValue(mono)}});
    ASSERT_TRUE(window.load(kSpectrumQml, QSize(531, 320)));
    auto* canvas = window.find<SpectrumCanvasView>();
    QQuickItem* rightLegend = window.find<QQuickItem>("rightLegend");
    QObject* analyzer = window.find("analyzer");
    ASSERT_TRUE(canvas && rightLegend && analyzer);
    EXPECT_EQ(canvas->spectrumDB(), mono);
    EXPECT_EQ(canvas->mode(), QStringLiteral("L+R"));
    EXPECT_GE(canvas->height(), 250.0);
    EXPECT_FALSE(rightLegend->isVisible());

    // The selector sets the canvas's mode (what each mode draws is the canvas's own test).
    analyzer->setProperty("channelMode", QStringLiteral("R"));
    EXPECT_EQ(canvas->mode(), QStringLiteral("R"));

    // A stereo spectrum shows the right legend.
    canvas->setSpectrumDB(SpectrumRows(std::vector<std::vector<float>>{
        std::vector<float>(192, -30.0f), std::vector<float>(192, -40.0f)}));
    EXPECT_TRUE(rightLegend->isVisible());
}

}  // namespace
}  // namespace orvinta
