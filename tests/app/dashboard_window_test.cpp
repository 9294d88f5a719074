// The real dashboard (Main.qml) rendered offscreen on a scripted AppState: what a user sees in
// each state, read back from the item tree and from the window's pixels.

#include <QAccessible>
#include <QFontMetricsF>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <limits>
#include <memory>

#include "tests/app/dashboard_fixture.h"
#include "ui/target_connector_view.h"
#include "ui/theme.h"

namespace orvinta::testing {
namespace {

const QString kEmDash = QString(QChar(0x2014));
constexpr double kInfinity = std::numeric_limits<double>::infinity();

LoudnessSnapshot knownSnapshot() {
    LoudnessSnapshot snapshot;
    snapshot.momentaryLUFS = -18.24;
    snapshot.shortTermLUFS = -19.36;
    snapshot.integratedLUFS = -20.61;
    snapshot.loudnessRangeLU = 5.27;
    snapshot.truePeakDBTP = {-3.14, -40.0};
    snapshot.maxTruePeakDBTP = {0.44, -12.0};
    return snapshot;
}

QRect inner(const QRectF& rect, int margin) {
    return rect.toAlignedRect().adjusted(margin, margin, -margin, -margin);
}

int countRed(const QImage& image, const QRectF& rect) {
    return static_cast<int>(shareOf(image, rect.toAlignedRect(), Theme::red(), 50) * rect.width() *
                            rect.height());
}

void clickOn(QQuickWindow* window, QQuickItem* item) {
    QTest::mouseClick(window, Qt::LeftButton, {},
                      item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint());
}

// The visible menu entry whose text is `text`, anywhere in the window.
QQuickItem* menuEntry(QQuickItem* root, const QString& text) {
    if (root->isVisible() && root->inherits("QQuickMenuItem") &&
        root->property("text").toString() == text) {
        return root;
    }
    for (QQuickItem* child : root->childItems()) {
        if (QQuickItem* found = menuEntry(child, text)) {
            return found;
        }
    }
    return nullptr;
}

TEST(Dashboard, FreshWindowShowsDashesTheInitialTargetAndBothPanels) {
    DashboardFixture dashboard;
    for (const char* name : {"meterValueText", "integratedText", "shortTermBlockValue",
                             "maxMomentaryBlockValue", "maxTruePeak0", "maxTruePeak1"}) {
        EXPECT_EQ(dashboard.text(name), kEmDash) << name;
    }
    EXPECT_EQ(dashboard.text("headerTargetText"), "-23.0 LUFS");
    // The radar shares the meter's scale, -103 ... -3 (target -23, range 20).
    EXPECT_DOUBLE_EQ(dashboard.item("radar")->property("minLUFS").toDouble(), -103.0);

    const QImage image = dashboard.grab();
    EXPECT_GT(shareOf(image, inner(dashboard.sceneRect("startStopButton"), 6), Theme::accent(), 60),
              0.3);
    EXPECT_GT(countYellow(image, dashboard.sceneRect("headerTargetText").toAlignedRect()), 100);
}

TEST(Dashboard, TargetConnectorRunsFromTheBarsTargetLevelToTheRadarsRing) {
    DashboardFixture dashboard;
    auto* connector = qobject_cast<TargetConnectorView*>(dashboard.item("targetConnector"));
    ASSERT_TRUE(connector && connector->isDrawn());
    QQuickItem* mainRow = dashboard.item("mainRow");
    QQuickItem* meter = dashboard.item("meterBar");
    QQuickItem* radar = dashboard.item("radar");
    const QRectF barInRow = meter->mapRectToItem(mainRow, meter->property("barFrame").toRectF());
    const QRectF radarInRow =
        radar->mapRectToItem(mainRow, QRectF(0, 0, radar->width(), radar->height()));
    EXPECT_EQ(connector->meterBarFrame(), barInRow);
    EXPECT_EQ(connector->radarFrame(), radarInRow);

    // Yellow dashes, 4 on and 3 off, along the leg to the top of the radar's target ring.
    const auto geometry = targetConnectorGeometry(true, barInRow, radarInRow);
    ASSERT_TRUE(geometry.has_value());
    const QImage image = dashboard.grab();
    const QPointF ringTop = mainRow->mapToScene(geometry->ringTop);
    const QPointF radarCorner = mainRow->mapToScene(geometry->radarCorner);
    const QRect leg(qRound(radarCorner.x()) + 2, qRound(ringTop.y()),
                    qRound(ringTop.x() - radarCorner.x()) - 4, 1);
    int dashPixels = 0;
    for (int x = leg.left(); x <= leg.right(); ++x) {
        const QColor c = image.pixelColor(x, leg.top());
        dashPixels += c.red() > c.blue() + 30 && c.green() > c.blue() + 25;
    }
    EXPECT_GT(dashPixels, leg.width() * 0.35);
    EXPECT_LT(dashPixels, leg.width() * 0.85);
}

TEST(Dashboard, RunningStateShowsThePublishedValuesUntilResetClearsThem) {
    DashboardFixture dashboard;
    ASSERT_TRUE(dashboard.startAndWait());
    // Applied and drawn without returning to the event loop, so no engine snapshot of the
    // running (silent) source can overwrite the values in between.
    dashboard.state().readings().publish(knownSnapshot());
    const QImage image = dashboard.grab();
    EXPECT_EQ(dashboard.text("meterValueText"), "-18.2");
    EXPECT_GT(shareOf(image, inner(dashboard.sceneRect("startStopButton"), 6), Theme::red(), 60),
              0.3);
    // The highest true peak since the start stands beside each channel, red above 0 dBTP.
    EXPECT_EQ(dashboard.text("maxTruePeak0"), "0.4");
    EXPECT_EQ(dashboard.text("maxTruePeak1"), "-12.0");
    EXPECT_GT(countRed(image, dashboard.sceneRect("maxTruePeak0")), 10);
    EXPECT_EQ(countRed(image, dashboard.sceneRect("maxTruePeak1")), 0);

    // The meter bar: -18.2 on -103 ... -3 is 84.8 % up: lit to the yellow segments, dark above.
    QQuickItem* meter = dashboard.item("meterBar");
    const QRectF bar = meter->mapRectToScene(meter->property("barFrame").toRectF());
    auto at = [&](double fraction) {
        return image.pixelColor(qRound(bar.center().x()),
                                qRound(bar.bottom() - 3 - fraction * (bar.height() - 6)));
    };
    EXPECT_TRUE(isClose(at(0.30), QColor::fromRgbF(0.0f, 0.70f, 0.82f), 30));
    EXPECT_TRUE(isClose(at(0.70), QColor::fromRgbF(0.28f, 0.76f, 0.05f), 30));
    EXPECT_LT(at(0.97).lightness(), 60);

    // The large read-out follows the metric selector; the bar keeps its identity.
    dashboard.item("contentView")->setProperty("selectedMeterMetric", "I");
    EXPECT_EQ(dashboard.text("meterValueText"), "-20.6");
    EXPECT_EQ(dashboard.item("meterBar"), meter);

    QTest::keyClick(dashboard.window(), Qt::Key_Backspace);
    for (const char* name : {"meterBar", "truePeakBar0", "radar"}) {
        EXPECT_EQ(dashboard.item(name)->property("identity").toInt(),
                  dashboard.state().resetSignal());
    }
    // The held -18.2 is gone; the silent source's own next snapshot may already be shown.
    EXPECT_LE(meter->property("peakValue").toDouble(), -70.0);
    EXPECT_EQ(dashboard.text("maxTruePeak0"), kEmDash);
    EXPECT_EQ(dashboard.text("maxMomentaryBlockValue"), kEmDash);
}

TEST(Dashboard, PresetOffShowsNoTargetAndTheFullScale) {
    DashboardFixture dashboard;
    auto* connector = qobject_cast<TargetConnectorView*>(dashboard.item("targetConnector"));
    dashboard.state().setTargetRawValue(QStringLiteral("off"));
    EXPECT_EQ(dashboard.text("headerTargetText"), "OFF");
    EXPECT_EQ(dashboard.text("readoutTargetText"), "Off");
    EXPECT_EQ(dashboard.text("targetChipText"), "-23.0");
    EXPECT_EQ(dashboard.item("radarLegendTarget"), nullptr);
    EXPECT_FALSE(connector->isDrawn());
    EXPECT_FALSE(dashboard.item("meterBar")->property("targetValue").isValid());
    EXPECT_DOUBLE_EQ(dashboard.item("radar")->property("minLUFS").toDouble(), -60.0);
    EXPECT_DOUBLE_EQ(dashboard.item("meterBar")->property("maxValue").toDouble(), 0.0);

    // A hand-set target brings the target back although the preset stays off.
    dashboard.state().adjustTarget(0.5);
    EXPECT_EQ(dashboard.text("headerTargetText"), "-22.5 LUFS");
    EXPECT_TRUE(connector->isDrawn());
}

TEST(Dashboard, ClosingThePhasePanelHidesBothPanelsAndMovesTheInputSelectorUp) {
    DashboardFixture dashboard;
    QQuickWindow* window = dashboard.window();
    clickOn(window, dashboard.item("phasePanelCloseButton"));
    EXPECT_EQ(dashboard.item("phaseAnalyzerPanel"), nullptr);
    EXPECT_EQ(dashboard.item("frequencyAnalyzerPanel"), nullptr);
    EXPECT_LT(dashboard.sceneRect("inputSelector").bottom(), dashboard.sceneRect("mainRow").top());
    EXPECT_NEAR(dashboard.sceneRect("readoutColumn").width(), 559.0, 0.5);
    EXPECT_GT(
        countYellow(dashboard.grab(), dashboard.sceneRect("readoutTargetText").toAlignedRect()),
        30);

    clickOn(window, dashboard.item("phaseEqButton"));
    EXPECT_NE(dashboard.item("frequencyAnalyzerPanel"), nullptr);
    EXPECT_NEAR(dashboard.sceneRect("readoutColumn").width(), 223.0, 0.5);
}

TEST(Dashboard, CanvasScalesWithTheWindowAndLetterboxes) {
    DashboardFixture dashboard;
    QQuickItem* canvas = dashboard.item("dashboardCanvas");
    dashboard.window()->resize(2160, 1725);
    QTRY_COMPARE(canvas->scale(), 1.5);
    const QRectF start = dashboard.sceneRect("startStopButton");
    EXPECT_NEAR(start.width(), 300.0, 0.5);
    EXPECT_GT(shareOf(dashboard.grab(), inner(start, 9), Theme::accent(), 60), 0.3);

    dashboard.window()->resize(2000, 1150);
    QTRY_COMPARE(canvas->scale(), 1.0);
    EXPECT_NEAR(dashboard.sceneRect("dashboardCanvas").left(), 280.0, 0.5);
    dashboard.item("contentView")->setProperty("windowSize", QSizeF(0, 1725));
    EXPECT_DOUBLE_EQ(canvas->scale(), 1.0);
}

TEST(Dashboard, KeysMoveTargetAndRangeDriveTheMeterAndLeaveAnOpenMenuAlone) {
    DashboardFixture dashboard;
    QQuickWindow* window = dashboard.window();
    for (const auto key : {Qt::Key_Right, Qt::Key_Up, Qt::Key_Down, Qt::Key_Left, Qt::Key_Left}) {
        QTest::keyClick(window, key);
    }
    EXPECT_EQ(dashboard.text("targetChipText"), "-23.5");
    const double range = dashboard.state().radarRangeLU();
    QTest::keyClick(window, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_DOUBLE_EQ(dashboard.state().radarRangeLU(), range + 0.5);
    // Only Shift counts: Ctrl+Shift+Left still narrows the range. Letters pass through.
    QTest::keyClick(window, Qt::Key_Left, Qt::ShiftModifier | Qt::ControlModifier);
    QTest::keyClick(window, Qt::Key_A);
    EXPECT_DOUBLE_EQ(dashboard.state().radarRangeLU(), range);
    EXPECT_EQ(dashboard.text("targetChipText"), "-23.5");

    // An open menu takes the arrows: they move its highlight, not the target.
    clickOn(window, dashboard.item("presetButton"));
    QObject* menu = nullptr;
    for (QObject* child : dashboard.item("presetButton")->children()) {
        menu = child->inherits("QQuickMenu") ? child : menu;
    }
    ASSERT_NE(menu, nullptr);
    QTRY_VERIFY(menu->property("opened").toBool());
    QTest::keyClick(window, Qt::Key_Down);
    const int highlighted = menu->property("currentIndex").toInt();
    QTest::keyClick(window, Qt::Key_Down);
    EXPECT_EQ(menu->property("currentIndex").toInt(), highlighted + 1);
    EXPECT_EQ(dashboard.text("targetChipText"), "-23.5");
    QTest::keyClick(window, Qt::Key_Escape);
    QTRY_VERIFY(!menu->property("visible").toBool());
    // So does the input source list.
    QQuickItem* picker = dashboard.item("inputSourcePicker");
    clickOn(window, picker);
    QTRY_VERIFY(picker->property("popup").value<QObject*>()->property("opened").toBool());
    QTest::keyClick(window, Qt::Key_Down);
    EXPECT_EQ(picker->property("highlightedIndex").toInt(), 1);
    QTest::keyClick(window, Qt::Key_Escape);
    QTRY_VERIFY(!picker->property("popup").value<QObject*>()->property("visible").toBool());
    QTest::keyClick(window, Qt::Key_Right);
    EXPECT_EQ(dashboard.text("targetChipText"), "-23.0");

    QSignalSpy finished(&dashboard.state(), &AppState::startFinished);
    QTest::keyClick(window, Qt::Key_Space);
    ASSERT_TRUE(finished.wait(10000) || !finished.isEmpty());
    EXPECT_TRUE(dashboard.state().isRunning());
    const int resets = dashboard.state().resetSignal();
    QTest::keyClick(window, Qt::Key_Delete);
    QTest::keyClick(window, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(dashboard.state().resetSignal(), resets + 1);
    QTest::keyClick(window, Qt::Key_Space);
    EXPECT_FALSE(dashboard.state().isRunning());
}

TEST(Dashboard, SecondWindowSharesTheStateAndKeysStayInTheirWindow) {
    DashboardFixture dashboard;
    dashboard.state().readings().publish(knownSnapshot());
    dashboard.openWindow();
    // A new window's bars show the values present at their creation without holding them.
    for (const char* name : {"meterBar", "truePeakBar0"}) {
        EXPECT_EQ(dashboard.item(name, 1)->property("peakValue").toDouble(), -kInfinity) << name;
    }
    // A key pressed in the second window moves the target once, not once per window.
    QTest::keyClick(dashboard.window(1), Qt::Key_Right);
    EXPECT_EQ(dashboard.text("headerTargetText", 0), "-22.5 LUFS");
    // View-local choices are per window.
    clickOn(dashboard.window(0), dashboard.item("phasePanelCloseButton", 0));
    EXPECT_EQ(dashboard.item("phaseAnalyzerPanel", 0), nullptr);
    EXPECT_NE(dashboard.item("phaseAnalyzerPanel", 1), nullptr);
}

TEST(Dashboard, MenusAndButtonsSetTheState) {
    DashboardFixture dashboard;
    QQuickWindow* window = dashboard.window();
    clickOn(window, dashboard.item("targetDownButton"));
    EXPECT_EQ(dashboard.text("targetChipText"), "-23.5");
    clickOn(window, dashboard.item("rangeDownButton"));
    EXPECT_EQ(dashboard.text("rangeChipText"), "20.0");  // outer -3: range 20.5, minus 0.5

    clickOn(window, dashboard.item("presetButton"));
    QQuickItem* entry = nullptr;
    QTRY_VERIFY((entry = menuEntry(window->contentItem(), QStringLiteral("-14 YT"))) != nullptr);
    dashboard.grab();
    clickOn(window, entry);
    EXPECT_EQ(dashboard.state().targetRawValue(), "streaming14");
    EXPECT_EQ(dashboard.text("headerTargetText"), "-14.0 LUFS");  // the hand-set target is gone

    clickOn(window, dashboard.item("radarCycleButton"));
    QTRY_VERIFY((entry = menuEntry(window->contentItem(), QStringLiteral("5min"))) != nullptr);
    clickOn(window, entry);
    EXPECT_DOUBLE_EQ(dashboard.item("radar")->property("cycleSeconds").toDouble(), 300.0);
    dashboard.state().setRadarCycleSeconds(45.7);
    EXPECT_EQ(dashboard.text("radarCycleButton"), "45s");
}

TEST(Dashboard, SpectrumEndLabelsStandWholeInsideTheCanvas) {
    DashboardFixture dashboard;
    const QImage image = dashboard.grab();
    const QRect canvas = dashboard.sceneRect("spectrumCanvas").toAlignedRect();
    auto inkColumns = [&](QRect area) {
        int columns = 0;
        for (int x = area.left(); x <= area.right(); ++x) {
            bool ink = false;
            for (int y = area.top(); y <= area.bottom(); ++y) {
                ink = ink || image.pixelColor(x, y).lightness() > 70;
            }
            columns += ink;
        }
        return columns;
    };
    const QFontMetricsF metrics(Theme::font(9));
    const int bottom = canvas.bottom() - 16;
    EXPECT_GE(inkColumns(QRect(canvas.left(), bottom, 30, 16)),
              metrics.horizontalAdvance("20") - 4);
    EXPECT_GE(inkColumns(QRect(canvas.right() - 30, bottom, 30, 16)),
              metrics.horizontalAdvance("20k") - 4);
    // The top level label (12 dB at the top edge) too.
    EXPECT_GE(inkColumns(QRect(canvas.left(), canvas.top(), 30, 14)),
              metrics.horizontalAdvance("12") - 4);
}

TEST(Dashboard, TextsAreTrueOnLinuxAndControlsHaveAccessibleNames) {
    DashboardFixture dashboard;
    dashboard.state().setInputSourceRawValue(QStringLiteral("systemAudio"));
    const double mainRowTop = dashboard.sceneRect("mainRow").top();
    dashboard.state().setErrorMessageText(QStringLiteral("Cannot reach the sound server"));
    const QImage image = dashboard.grab();
    // The banner shows in orange and pushes the main row down.
    EXPECT_GT(dashboard.sceneRect("mainRow").top(), mainRowTop + 20);
    const QRectF banner = dashboard.sceneRect("errorBannerText");
    EXPECT_GT(shareOf(image, banner.toAlignedRect(), Theme::orange(), 60) * banner.width() *
                  banner.height(),
              150);
    QStringList texts;
    for (QObject* object : dashboard.window()->findChildren<QObject*>()) {
        for (const char* property : {"text", "name", "description", "toolTip", "displayText"}) {
            const QString text = object->property(property).toString();
            if (!text.isEmpty()) {
                texts << text;
            }
        }
    }
    // The walk reaches the menus' entries and hints.
    const QVariantMap firstPreset = dashboard.state().targetOptions().front().toMap();
    ASSERT_TRUE(texts.contains(firstPreset.value("displayName").toString()));
    for (const QString& text : texts) {
        for (const char* foreign : {"System Settings", "System Preferences", "Privacy & Security",
                                    "Screen & System Audio", "macOS", "Control Panel", "\u2318"}) {
            EXPECT_FALSE(text.contains(QString::fromUtf8(foreign))) << text.toStdString();
        }
    }

    QAccessible::setActive(true);
    for (const char* name :
         {"integratedText", "truePeakBar0", "maxTruePeak0", "targetChipText", "inputSourcePicker",
          "startStopButton", "presetButton", "rangeUpButton", "resetButton"}) {
        QAccessibleInterface* accessible =
            QAccessible::queryAccessibleInterface(dashboard.item(name));
        ASSERT_NE(accessible, nullptr) << name;
        EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty()) << name;
    }
}

// START/STOP on a state that is still starting (a stand-in for AppState).
TEST(Dashboard, StartStopReadsStopWhileStartingAndThenCancelsTheStart) {
    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    QQmlComponent component(&engine);
    component.setData(R"(
import QtQuick
import Orvinta.Ui
Window {
    id: window
    width: 1440; height: 120; visible: true
    property QtObject stub: QtObject {
        property bool isRunning: false
        property bool isStarting: true
        property int stops: 0
        property int starts: 0
        function stop() { ++stops; isStarting = false }
        function start() { ++starts }
        function targetOptions() { return [] }
    }
    ControlRow { anchors.fill: parent; appState: window.stub }
})",
                      QUrl(QStringLiteral("qrc:/starting.qml")));
    std::unique_ptr<QObject> root(component.create());
    auto* window = qobject_cast<QQuickWindow*>(root.get());
    ASSERT_NE(window, nullptr) << component.errorString().toStdString();
    QObject* state = root->property("stub").value<QObject*>();
    auto* button = root->findChild<QQuickItem*>(QStringLiteral("startStopButton"));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->property("text").toString(), "STOP");
    QTest::keyClick(window, Qt::Key_Space);
    EXPECT_EQ(state->property("stops").toInt(), 1);
    EXPECT_EQ(state->property("starts").toInt(), 0);
    EXPECT_EQ(button->property("text").toString(), "START");
}

}  // namespace
}  // namespace orvinta::testing
