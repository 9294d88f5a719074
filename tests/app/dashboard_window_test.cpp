// The real dashboard (Main.qml) rendered offscreen on a scripted AppState: what a user sees in
// each state, read back from the item tree and from the window's pixels.

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/app/dashboard_fixture.h"
#include "ui/target_connector_view.h"
#include "ui/theme.h"

QT_BEGIN_NAMESPACE
// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace orvinta::testing {
namespace {

constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();
const QString kEmDash = QString(QChar(0x2014));

LoudnessSnapshot knownSnapshot() {
    LoudnessSnapshot snapshot;
    snapshot.momentaryLUFS = -18.24;
    snapshot.shortTermLUFS = -19.36;
    snapshot.integratedLUFS = -20.61;
    snapshot.loudnessRangeLU = 5.27;
    snapshot.truePeakDBTP = {-3.14, -40.0};
    snapshot.phaseCorrelation = 0.5;
    return snapshot;
}

QPoint centreOf(const QRectF& rect) {
    return rect.center().toPoint();
}

QRect inner(const QRectF& rect, int margin) {
    return rect.toAlignedRect().adjusted(margin, margin, -margin, -margin);
}

TEST(Dashboard, FreshWindowShowsDashesTheInitialTargetAndBothPanels) {
    DashboardFixture dashboard;
    EXPECT_EQ(dashboard.window()->title(), "Orvinta");
    EXPECT_EQ(dashboard.window()->size(), QSize(1440, 1150));

    EXPECT_EQ(dashboard.text("meterValueText"), kEmDash);
    EXPECT_EQ(dashboard.text("integratedText"), kEmDash);
    EXPECT_EQ(dashboard.text("shortTermBlockValue"), kEmDash);
    EXPECT_EQ(dashboard.text("maxMomentaryBlockValue"), kEmDash);
    EXPECT_EQ(dashboard.text("loudnessRangeText"), "LRA 0.0 LU");
    EXPECT_EQ(dashboard.text("headerTargetText"), "-23.0 LUFS");
    EXPECT_EQ(dashboard.text("readoutTargetText"), "-23.0 LUFS");
    EXPECT_EQ(dashboard.text("targetChipText"), "-23.0");
    EXPECT_EQ(dashboard.text("rangeChipText"), "20.0");
    EXPECT_EQ(dashboard.text("scaleText"), "SCALE: EBU R128");
    EXPECT_EQ(dashboard.text("meterMetricLabel"), "MOMENTARY");
    EXPECT_EQ(dashboard.text("presetButton"), "-23");
    EXPECT_EQ(dashboard.text("radarCycleButton"), "60s");
    EXPECT_EQ(dashboard.text("startStopButton"), "START");
    EXPECT_EQ(dashboard.text("inputFormatText"), "48 kHz / 24-bit / Stereo");

    EXPECT_NE(dashboard.item("phaseAnalyzerPanel"), nullptr);
    EXPECT_NE(dashboard.item("frequencyAnalyzerPanel"), nullptr);
    EXPECT_EQ(dashboard.item("phaseEqButton"), nullptr);
    EXPECT_EQ(dashboard.item("errorBanner"), nullptr);
    EXPECT_NE(dashboard.item("radarLegendTarget"), nullptr);
    // The input selector stands above the phase panel, not in the header.
    EXPECT_GT(dashboard.sceneRect("inputSelector").top(),
              dashboard.sceneRect("readoutColumn").bottom());
    EXPECT_LT(dashboard.sceneRect("inputSelector").bottom(),
              dashboard.sceneRect("phaseAnalyzerPanel").top() + 1);

    // The meter and the radar share the scale -103 ... -3 (target -23, range 20).
    QQuickItem* meter = dashboard.item("meterBar");
    ASSERT_NE(meter, nullptr);
    EXPECT_DOUBLE_EQ(meter->property("minValue").toDouble(), -103.0);
    EXPECT_DOUBLE_EQ(meter->property("maxValue").toDouble(), -3.0);
    QQuickItem* radar = dashboard.item("radar");
    EXPECT_DOUBLE_EQ(radar->property("minLUFS").toDouble(), -103.0);
    EXPECT_DOUBLE_EQ(radar->property("maxLUFS").toDouble(), -3.0);

    const QImage image = dashboard.grab();
    ASSERT_EQ(image.size(), QSize(1440, 1150));
    // The window background, (0.09, 0.095, 0.10), shows in the canvas's outer margin.
    EXPECT_TRUE(isClose(image.pixelColor(5, 575), QColor::fromRgbF(0.09f, 0.095f, 0.10f), 3))
        << image.pixelColor(5, 575).name().toStdString();
    // START is painted in the accent colour, the header target in yellow.
    EXPECT_GT(shareOf(image, inner(dashboard.sceneRect("startStopButton"), 6), Theme::accent(), 60),
              0.3);
    EXPECT_GT(countYellow(image, dashboard.sceneRect("headerTargetText").toAlignedRect()), 100);
}

TEST(Dashboard, TargetConnectorRunsFromTheBarsTargetLevelToTheRadarsRing) {
    DashboardFixture dashboard;
    auto* connector = qobject_cast<TargetConnectorView*>(dashboard.item("targetConnector"));
    ASSERT_NE(connector, nullptr);
    ASSERT_TRUE(connector->isDrawn());

    // The frames the connector uses are the meter bar's and the radar's real places.
    QQuickItem* mainRow = dashboard.item("mainRow");
    QQuickItem* meter = dashboard.item("meterBar");
    QQuickItem* radar = dashboard.item("radar");
    const QRectF bar = meter->property("barFrame").toRectF();
    const QRectF barInRow = meter->mapRectToItem(mainRow, bar);
    const QRectF radarInRow =
        radar->mapRectToItem(mainRow, QRectF(0, 0, radar->width(), radar->height()));
    EXPECT_EQ(connector->meterBarFrame(), barInRow);
    EXPECT_EQ(connector->radarFrame(), radarInRow);
    // The item covers only its path and label, not the instruments around it.
    EXPECT_EQ(QRectF(connector->x(), connector->y(), connector->width(), connector->height()),
              connector->paintedBounds());
    EXPECT_LT(connector->width() * connector->height(), mainRow->width() * mainRow->height() / 8);

    // Yellow dashes lie halfway along the first leg, and nowhere well above it.
    const auto geometry = targetConnectorGeometry(true, barInRow, radarInRow);
    ASSERT_TRUE(geometry.has_value());
    const QImage image = dashboard.grab();
    const QPointF labelInScene = mainRow->mapToScene(geometry->labelCentre);
    EXPECT_GT(countYellow(image, QRect(labelInScene.toPoint() - QPoint(30, 10), QSize(60, 20))),
              20);
    const QPointF ringTop = mainRow->mapToScene(geometry->ringTop);
    const QPointF radarCorner = mainRow->mapToScene(geometry->radarCorner);
    const int y = qRound(ringTop.y());
    int dashPixels = 0;
    for (int x = qRound(radarCorner.x()) + 2; x < qRound(ringTop.x()) - 2; ++x) {
        const QColor c = image.pixelColor(x, y);
        if (c.red() > c.blue() + 30 && c.green() > c.blue() + 25) {
            ++dashPixels;
        }
    }
    // 4 on, 3 off: a bit more than half of the horizontal leg is lit.
    const double legLength = ringTop.x() - radarCorner.x() - 4;
    EXPECT_GT(dashPixels, legLength * 0.35);
    EXPECT_LT(dashPixels, legLength * 0.85);
}

TEST(TargetConnectorGeometry, PlacesTheTargetAtEightyPercentOfTheBarAndOnTheRingTop) {
    const QRectF bar(50, 100, 20, 500);
    const QRectF radar(200, 80, 400, 300);
    const auto geometry = targetConnectorGeometry(true, bar, radar);
    ASSERT_TRUE(geometry.has_value());
    EXPECT_DOUBLE_EQ(geometry->barPoint.x(), 70.0);
    EXPECT_DOUBLE_EQ(geometry->barPoint.y(), 600.0 - 400.0);
    // min(400, 300) / 2 × 0.88 × 0.8 = 105.6 above the centre at 230.
    EXPECT_DOUBLE_EQ(geometry->ringTop.y(), 230.0 - 105.6);
    EXPECT_DOUBLE_EQ(geometry->ringTop.x(), 400.0);
    EXPECT_DOUBLE_EQ(geometry->radarCorner.x(), 200.0);
    EXPECT_DOUBLE_EQ(geometry->labelCentre.x(), 135.0);
    EXPECT_DOUBLE_EQ(geometry->labelCentre.y(), (200.0 + 124.4) / 2.0);

    EXPECT_FALSE(targetConnectorGeometry(false, bar, radar).has_value());
    EXPECT_FALSE(targetConnectorGeometry(true, QRectF(), radar).has_value());
    EXPECT_FALSE(targetConnectorGeometry(true, bar, QRectF()).has_value());
}

TEST(Dashboard, RunningStateShowsThePublishedValuesAndLightsTheMeter) {
    DashboardFixture dashboard;
    ASSERT_TRUE(dashboard.startAndWait());
    // Applied and drawn without returning to the event loop, so no engine snapshot of the
    // running (silent) source can overwrite the values in between.
    dashboard.state().readings().publish(knownSnapshot());
    const QImage image = dashboard.grab();

    EXPECT_EQ(dashboard.text("startStopButton"), "STOP");
    EXPECT_EQ(dashboard.text("meterValueText"), "-18.2");
    EXPECT_EQ(dashboard.text("integratedText"), "-20.6");
    EXPECT_EQ(dashboard.text("loudnessRangeText"), "LRA 5.3 LU");
    EXPECT_EQ(dashboard.text("shortTermBlockValue"), "-19.4");
    EXPECT_EQ(dashboard.text("maxMomentaryBlockValue"), "-18.2");

    // STOP is red.
    EXPECT_GT(shareOf(image, inner(dashboard.sceneRect("startStopButton"), 6), Theme::red(), 60),
              0.3);

    // The meter bar: -18.2 on -103 ... -3 is 84.8 % up, so the bar is lit up to the yellow
    // segments and dark above them.
    QQuickItem* meter = dashboard.item("meterBar");
    const QRectF bar = meter->mapRectToScene(meter->property("barFrame").toRectF());
    const int x = qRound(bar.center().x());
    auto at = [&](double fraction) {
        return image.pixelColor(x, qRound(bar.bottom() - 3 - fraction * (bar.height() - 6)));
    };
    EXPECT_TRUE(isClose(at(0.30), QColor::fromRgbF(0.0f, 0.70f, 0.82f), 30))
        << at(0.30).name().toStdString();
    EXPECT_TRUE(isClose(at(0.70), QColor::fromRgbF(0.28f, 0.76f, 0.05f), 30))
        << at(0.70).name().toStdString();
    const QColor top = at(0.97);
    EXPECT_LT(top.red() + top.green() + top.blue(), 120) << top.name().toStdString();

    // The large read-out follows the metric selector; the bar keeps its identity.
    dashboard.item("contentView")->setProperty("selectedMeterMetric", "I");
    EXPECT_EQ(dashboard.text("meterValueText"), "-20.6");
    EXPECT_EQ(dashboard.text("meterMetricLabel"), "INTEGRATED");
    EXPECT_DOUBLE_EQ(meter->property("value").toDouble(), -20.61);
    EXPECT_EQ(dashboard.item("meterBar"), meter);

    dashboard.state().stop();
    EXPECT_EQ(dashboard.text("startStopButton"), "START");
    EXPECT_EQ(dashboard.text("integratedText"), "-20.6");
}

TEST(Dashboard, PresetOffShowsNoTargetAndTheFullScale) {
    DashboardFixture dashboard;
    const QRectF connectorLabelArea = [&] {
        auto* connector = qobject_cast<TargetConnectorView*>(dashboard.item("targetConnector"));
        const auto g =
            targetConnectorGeometry(true, connector->meterBarFrame(), connector->radarFrame());
        const QPointF centre = dashboard.item("mainRow")->mapToScene(g->labelCentre);
        return QRectF(centre - QPointF(30, 10), QSizeF(60, 20));
    }();
    dashboard.state().setTargetRawValue(QStringLiteral("off"));

    EXPECT_EQ(dashboard.text("headerTargetText"), "OFF");
    EXPECT_EQ(dashboard.text("readoutTargetText"), "Off");
    EXPECT_EQ(dashboard.text("targetChipText"), "-23.0");
    EXPECT_EQ(dashboard.text("presetButton"), "OFF");
    EXPECT_EQ(dashboard.text("scaleText"), "SCALE: NO TARGET");
    EXPECT_EQ(dashboard.item("radarLegendTarget"), nullptr);
    auto* connector = qobject_cast<TargetConnectorView*>(dashboard.item("targetConnector"));
    EXPECT_FALSE(connector->isDrawn());
    EXPECT_DOUBLE_EQ(dashboard.item("meterBar")->property("minValue").toDouble(), -60.0);
    EXPECT_DOUBLE_EQ(dashboard.item("meterBar")->property("maxValue").toDouble(), 0.0);
    EXPECT_DOUBLE_EQ(dashboard.item("radar")->property("minLUFS").toDouble(), -60.0);
    EXPECT_DOUBLE_EQ(dashboard.item("radar")->property("maxLUFS").toDouble(), 0.0);
    EXPECT_FALSE(dashboard.item("radar")->property("targetLUFS").isValid());

    const QImage image = dashboard.grab();
    EXPECT_EQ(countYellow(image, connectorLabelArea.toAlignedRect()), 0);

    // A hand-set target brings the target back although the preset stays off.
    dashboard.state().adjustTarget(0.5);
    EXPECT_EQ(dashboard.text("headerTargetText"), "-22.5 LUFS");
    EXPECT_EQ(dashboard.text("presetButton"), "OFF");
    EXPECT_NE(dashboard.item("radarLegendTarget"), nullptr);
    EXPECT_TRUE(connector->isDrawn());
}

TEST(Dashboard, ErrorBannerShowsTheMessageInOrange) {
    DashboardFixture dashboard;
    const double mainRowTop = dashboard.sceneRect("mainRow").top();
    const QString message = QStringLiteral("Cannot reach the sound server: Connection refused");
    dashboard.state().setErrorMessageText(message);
    const QImage image = dashboard.grab();

    ASSERT_NE(dashboard.item("errorBanner"), nullptr);
    EXPECT_EQ(dashboard.text("errorBannerText"), message);
    // The banner pushes the main row down.
    EXPECT_GT(dashboard.sceneRect("mainRow").top(), mainRowTop + 20);
    const QRect banner = dashboard.sceneRect("errorBanner").toAlignedRect();
    int orange = 0;
    for (int x = banner.left(); x < banner.left() + 400; ++x) {
        for (int y = banner.top(); y < banner.bottom(); ++y) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 200 && c.green() > 100 && c.green() < 190 && c.blue() < 80) {
                ++orange;
            }
        }
    }
    EXPECT_GT(orange, 150);

    dashboard.state().setErrorMessageText(QString());
    EXPECT_EQ(dashboard.item("errorBanner"), nullptr);
}

TEST(Dashboard, ClosingThePhasePanelHidesBothPanelsAndMovesTheInputSelectorUp) {
    DashboardFixture dashboard;
    QQuickWindow* window = dashboard.window();
    QTest::mouseClick(window, Qt::LeftButton, {},
                      centreOf(dashboard.sceneRect("phasePanelCloseButton")));

    EXPECT_EQ(dashboard.item("phaseAnalyzerPanel"), nullptr);
    EXPECT_EQ(dashboard.item("frequencyAnalyzerPanel"), nullptr);
    ASSERT_NE(dashboard.item("phaseEqButton"), nullptr);
    ASSERT_NE(dashboard.item("inputSelector"), nullptr);
    // The selector now sits in the header, above the main row and at its trailing end.
    EXPECT_LT(dashboard.sceneRect("inputSelector").bottom(), dashboard.sceneRect("mainRow").top());
    EXPECT_GT(dashboard.sceneRect("inputSelector").left(), 1000);
    // The read-out column takes the right part at 559 points.
    EXPECT_NEAR(dashboard.sceneRect("readoutColumn").width(), 559.0, 0.5);
    // The image shows the wide read-out column where the spectrum was.
    const QImage image = dashboard.grab();
    EXPECT_GT(countYellow(image, dashboard.sceneRect("readoutTargetText").toAlignedRect()), 30);

    QTest::mouseClick(window, Qt::LeftButton, {}, centreOf(dashboard.sceneRect("phaseEqButton")));
    EXPECT_NE(dashboard.item("phaseAnalyzerPanel"), nullptr);
    EXPECT_NE(dashboard.item("frequencyAnalyzerPanel"), nullptr);
    EXPECT_EQ(dashboard.item("phaseEqButton"), nullptr);
    EXPECT_NEAR(dashboard.sceneRect("readoutColumn").width(), 223.0, 0.5);
}

TEST(Dashboard, LargeWindowDrawsTheCanvasAtOneAndAHalf) {
    DashboardFixture dashboard;
    const QRectF startAtOne = dashboard.sceneRect("startStopButton");
    dashboard.window()->resize(2160, 1725);
    QTRY_COMPARE(dashboard.window()->size(), QSize(2160, 1725));
    QQuickItem* canvas = dashboard.item("dashboardCanvas");
    QTRY_COMPARE(canvas->scale(), 1.5);

    const QRectF startAtOneAndAHalf = dashboard.sceneRect("startStopButton");
    EXPECT_NEAR(startAtOneAndAHalf.width(), 300.0, 0.5);
    EXPECT_NEAR(startAtOneAndAHalf.height(), 78.0, 0.5);
    EXPECT_NEAR(startAtOneAndAHalf.left(), startAtOne.left() * 1.5, 0.5);

    const QImage image = dashboard.grab();
    EXPECT_GE(image.width(), 2160);
    EXPECT_GT(shareOf(image, inner(startAtOneAndAHalf, 9), Theme::accent(), 60), 0.3);

    // A wider window letterboxes: the canvas is scaled by the height and centred.
    dashboard.window()->resize(2000, 1150);
    QTRY_COMPARE(canvas->scale(), 1.0);
    EXPECT_NEAR(dashboard.sceneRect("dashboardCanvas").left(), 280.0, 0.5);

    // While the window size has a zero component the canvas stays at scale 1.
    dashboard.item("contentView")->setProperty("windowSize", QSizeF(0, 1725));
    EXPECT_DOUBLE_EQ(canvas->scale(), 1.0);
}

TEST(Dashboard, ArrowKeysMoveTargetAndRangeAndSpaceAndDeleteDriveTheMeter) {
    DashboardFixture dashboard;
    QQuickWindow* window = dashboard.window();

    QTest::keyClick(window, Qt::Key_Right);
    EXPECT_EQ(dashboard.text("headerTargetText"), "-22.5 LUFS");
    QTest::keyClick(window, Qt::Key_Up);
    EXPECT_EQ(dashboard.text("targetChipText"), "-22.0");
    QTest::keyClick(window, Qt::Key_Down);
    QTest::keyClick(window, Qt::Key_Left);
    QTest::keyClick(window, Qt::Key_Left);
    EXPECT_EQ(dashboard.text("targetChipText"), "-23.5");

    const double rangeBefore = dashboard.state().radarRangeLU();
    QTest::keyClick(window, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_DOUBLE_EQ(dashboard.state().radarRangeLU(), rangeBefore + 0.5);
    EXPECT_EQ(dashboard.text("targetChipText"), "-23.5");
    QTest::keyClick(window, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(window, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_DOUBLE_EQ(dashboard.state().radarRangeLU(), rangeBefore - 0.5);
    // Only Shift counts: Ctrl+Shift+Right still widens the range.
    QTest::keyClick(window, Qt::Key_Right, Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(dashboard.state().radarRangeLU(), rangeBefore);

    // Letters pass through untouched.
    QTest::keyClick(window, Qt::Key_A);
    EXPECT_EQ(dashboard.text("targetChipText"), "-23.5");

    QSignalSpy finished(&dashboard.state(), &AppState::startFinished);
    QTest::keyClick(window, Qt::Key_Space);
    ASSERT_TRUE(finished.wait(10000) || !finished.isEmpty());
    EXPECT_TRUE(dashboard.state().isRunning());
    EXPECT_EQ(dashboard.text("startStopButton"), "STOP");

    const int resets = dashboard.state().resetSignal();
    QTest::keyClick(window, Qt::Key_Backspace);
    EXPECT_EQ(dashboard.state().resetSignal(), resets + 1);
    QTest::keyClick(window, Qt::Key_Delete);
    EXPECT_EQ(dashboard.state().resetSignal(), resets + 2);
    // With a modifier the delete key is not the reset shortcut.
    QTest::keyClick(window, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(dashboard.state().resetSignal(), resets + 2);

    QTest::keyClick(window, Qt::Key_Space);
    EXPECT_FALSE(dashboard.state().isRunning());
}

TEST(Dashboard, ResetGivesTheMeterAndTruePeakBarsFreshPeakHolds) {
    DashboardFixture dashboard;
    dashboard.state().readings().publish(knownSnapshot());
    QQuickItem* meter = dashboard.item("meterBar");
    QQuickItem* leftPeak = dashboard.item("truePeakBar0");
    ASSERT_NE(leftPeak, nullptr);
    EXPECT_DOUBLE_EQ(meter->property("peakValue").toDouble(), -18.24);

    QTest::keyClick(dashboard.window(), Qt::Key_Backspace);
    EXPECT_EQ(meter->property("identity").toInt(), dashboard.state().resetSignal());
    EXPECT_EQ(dashboard.item("truePeakBar0")->property("identity").toInt(),
              dashboard.state().resetSignal());
    EXPECT_EQ(dashboard.item("radar")->property("identity").toInt(),
              dashboard.state().resetSignal());
    EXPECT_EQ(meter->property("peakValue").toDouble(), kMinusInfinity);
    EXPECT_EQ(dashboard.text("meterValueText"), kEmDash);
    EXPECT_EQ(dashboard.text("maxMomentaryBlockValue"), kEmDash);
}

TEST(Dashboard, SecondWindowSharesTheStateAndKeysStayInTheirWindow) {
    DashboardFixture dashboard;
    dashboard.openWindow();
    ASSERT_NE(dashboard.window(0), dashboard.window(1));

    // A key pressed in the second window moves the target once, not once per window.
    QTest::keyClick(dashboard.window(1), Qt::Key_Right);
    EXPECT_DOUBLE_EQ(dashboard.state().effectiveTargetLUFS().value_or(0.0), -22.5);
    EXPECT_EQ(dashboard.text("headerTargetText", 0), "-22.5 LUFS");
    EXPECT_EQ(dashboard.text("headerTargetText", 1), "-22.5 LUFS");

    // Controls of one window act on the state both show.
    QTest::mouseClick(dashboard.window(0), Qt::LeftButton, {},
                      centreOf(dashboard.sceneRect("rangeUpButton", 0)));
    EXPECT_EQ(dashboard.text("rangeChipText", 1), dashboard.text("rangeChipText", 0));
    EXPECT_DOUBLE_EQ(dashboard.state().radarRangeLU(), 20.0);  // -3 - (-22.5) was 19.5

    // View-local choices are per window.
    QTest::mouseClick(dashboard.window(0), Qt::LeftButton, {},
                      centreOf(dashboard.sceneRect("phasePanelCloseButton", 0)));
    EXPECT_EQ(dashboard.item("phaseAnalyzerPanel", 0), nullptr);
    EXPECT_NE(dashboard.item("phaseAnalyzerPanel", 1), nullptr);
}

TEST(Dashboard, ButtonsAndInputSelectorActOnTheState) {
    DashboardFixture dashboard;
    QQuickWindow* window = dashboard.window();
    QTest::mouseClick(window, Qt::LeftButton, {},
                      centreOf(dashboard.sceneRect("targetDownButton")));
    EXPECT_EQ(dashboard.text("targetChipText"), "-23.5");
    QTest::mouseClick(window, Qt::LeftButton, {}, centreOf(dashboard.sceneRect("rangeDownButton")));
    EXPECT_EQ(dashboard.text("rangeChipText"), "20.0");  // outer -3: range 20.5, minus 0.5

    dashboard.state().setInputSourceRawValue(QStringLiteral("systemAudio"));
    EXPECT_EQ(dashboard.item("inputSourcePicker")->property("displayText").toString(),
              "System Audio");
    EXPECT_EQ(dashboard.text("inputFormatText"), "48 kHz / 32-bit float / Stereo");
    EXPECT_NE(dashboard.item("systemAudioHint"), nullptr);

    QSignalSpy finished(&dashboard.state(), &AppState::startFinished);
    QTest::mouseClick(window, Qt::LeftButton, {}, centreOf(dashboard.sceneRect("startStopButton")));
    ASSERT_TRUE(finished.wait(10000) || !finished.isEmpty());
    EXPECT_TRUE(dashboard.state().isRunning());
    QTest::mouseClick(window, Qt::LeftButton, {}, centreOf(dashboard.sceneRect("startStopButton")));
    EXPECT_FALSE(dashboard.state().isRunning());
}

// The visible item whose `text` is `text`, anywhere in the window (menus included).
QQuickItem* itemWithText(QQuickItem* root, const QString& text) {
    if (root->isVisible() && root->property("text").toString() == text &&
        root->inherits("QQuickMenuItem")) {
        return root;
    }
    for (QQuickItem* child : root->childItems()) {
        if (QQuickItem* found = itemWithText(child, text)) {
            return found;
        }
    }
    return nullptr;
}

TEST(Dashboard, PresetAndRadarCycleMenusSetTheState) {
    DashboardFixture dashboard;
    QQuickWindow* window = dashboard.window();
    dashboard.state().adjustTarget(-0.5);

    QTest::mouseClick(window, Qt::LeftButton, {}, centreOf(dashboard.sceneRect("presetButton")));
    QQuickItem* entry = nullptr;
    QTRY_VERIFY((entry = itemWithText(window->contentItem(), QStringLiteral("-14 YT"))) != nullptr);
    ASSERT_NE(itemWithText(window->contentItem(), QStringLiteral("OFF")), nullptr);
    dashboard.grab();
    QTest::mouseClick(
        window, Qt::LeftButton, {},
        entry->mapToScene(QPointF(entry->width() / 2, entry->height() / 2)).toPoint());
    EXPECT_EQ(dashboard.state().targetRawValue(), "streaming14");
    // Another preset drops the hand-set target.
    EXPECT_EQ(dashboard.text("headerTargetText"), "-14.0 LUFS");
    EXPECT_EQ(dashboard.text("presetButton"), "-14 YT");
    EXPECT_EQ(dashboard.text("scaleText"), "SCALE: STREAMING -14");

    QTest::mouseClick(window, Qt::LeftButton, {},
                      centreOf(dashboard.sceneRect("radarCycleButton")));
    QTRY_VERIFY((entry = itemWithText(window->contentItem(), QStringLiteral("5min"))) != nullptr);
    QTest::mouseClick(
        window, Qt::LeftButton, {},
        entry->mapToScene(QPointF(entry->width() / 2, entry->height() / 2)).toPoint());
    EXPECT_DOUBLE_EQ(dashboard.state().radarCycleSeconds(), 300.0);
    EXPECT_EQ(dashboard.text("radarCycleButton"), "5min");
    EXPECT_DOUBLE_EQ(dashboard.item("radar")->property("cycleSeconds").toDouble(), 300.0);

    // A cycle that is not among the options reads as whole seconds.
    dashboard.state().setRadarCycleSeconds(45.7);
    EXPECT_EQ(dashboard.text("radarCycleButton"), "45s");
}

TEST(Dashboard, ReadOutsCarryAccessibleNamesAndValues) {
    DashboardFixture dashboard;
    dashboard.state().readings().publish(knownSnapshot());
    QAccessible::setActive(true);
    auto check = [&](const char* objectName, const QString& name, const QString& value) {
        QAccessibleInterface* accessible =
            QAccessible::queryAccessibleInterface(dashboard.item(objectName));
        ASSERT_NE(accessible, nullptr) << objectName;
        EXPECT_EQ(accessible->text(QAccessible::Name), name) << objectName;
        EXPECT_EQ(accessible->text(QAccessible::Description), value) << objectName;
    };
    check("integratedText", "Integrated loudness", "-20.6 LUFS");
    check("loudnessRangeText", "Loudness range", "5.3 LU");
    check("targetChipText", "Target loudness", "-23.0 LUFS");
    check("rangeChipText", "Radar range", "20.0 LU");
    check("truePeakBar0", "Left true peak", "-3.1 dBTP");
    QAccessibleInterface* picker =
        QAccessible::queryAccessibleInterface(dashboard.item("inputSourcePicker"));
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(picker->text(QAccessible::Name), "Input source");
    EXPECT_THAT(
        (picker->text(QAccessible::Description) + picker->text(QAccessible::Value)).toStdString(),
        ::testing::HasSubstr("Microphone"));
    check("startStopButton", "Start metering", "stopped");
}

}  // namespace
}  // namespace orvinta::testing
