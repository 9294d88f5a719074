// The input menu on a private sound server: the applications that play are listed and metered.

#include <QAccessible>
#include <QQuickItem>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "tests/app/dashboard_fixture.h"
#include "tests/support/pulse/private_pulse_server.h"

namespace orvinta::testing {
namespace {

// The visible item that assistive technology knows by `name`, anywhere under `root`.
QQuickItem* accessibleItem(QQuickItem* root, const QString& name) {
    const QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(root);
    if (root->isVisible() && accessible && accessible->text(QAccessible::Name) == name) {
        return root;
    }
    for (QQuickItem* child : root->childItems()) {
        if (QQuickItem* found = accessibleItem(child, name)) {
            return found;
        }
    }
    return nullptr;
}

// The input menu of a dashboard on a private server lists the applications that play, reaches
// them by keyboard, meters the one chosen alone, and keeps it while it is silent.
TEST(InputMenuOnPulse, ListsPlayingApplicationsAndMetersTheOneChosen) {
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    const int tone = server.playAs("Tone player", 0.1, 1000.0);
    const int noise = server.playAs("Noise player", 0.5, 0.0);
    DashboardFixture dashboard(std::make_unique<AppState>());
    QQuickWindow* window = dashboard.window();
    QQuickItem* picker = dashboard.item("inputSourcePicker");
    QQuickItem* root = window->contentItem();
    const auto openMenu = [&] {
        QTest::mouseClick(window, Qt::LeftButton, {},
                          picker->mapToScene(picker->boundingRect().center()).toPoint());
    };

    openMenu();
    QTRY_VERIFY_WITH_TIMEOUT(accessibleItem(root, "Application Tone player") &&
                                 accessibleItem(root, "Application Noise player"),
                             10000);
    EXPECT_NE(accessibleItem(root, "Microphone"), nullptr);
    dashboard.grab().save(
        QStringLiteral(QT_TESTCASE_BUILDDIR "/screenshots/input-menu-applications.png"));
    for (int presses = 0; presses < 6 && picker->property("highlightedIndex").toInt() !=
                                             picker->property("count").toInt() - 1;
         ++presses) {
        QTest::keyClick(window, Qt::Key_Down);
    }
    QTest::keyClick(window, Qt::Key_Return);
    EXPECT_EQ(dashboard.state().inputSourceDisplayName(), "Tone player");
    QTRY_COMPARE(dashboard.text("inputFormatText"), "48 kHz / 32-bit float / Stereo · Tone player");

    // The tone alone (a 1 kHz sine of peak 0.1 on both channels), not the louder noise.
    ASSERT_TRUE(dashboard.startAndWait()) << dashboard.state().errorMessageText().toStdString();
    const double sine = -20.0 + 10.0 * std::log10(2.0) - 3.0103;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return std::abs(dashboard.state().momentaryLUFS() - sine) < 0.3; }, 15000))
        << dashboard.state().momentaryLUFS();
    dashboard.state().stop();

    // Both stop playing: the open menu drops the noise player and keeps the chosen one.
    server.stopPlayer(tone);
    server.stopPlayer(noise);
    openMenu();
    QTRY_VERIFY_WITH_TIMEOUT(!accessibleItem(root, "Application Noise player"), 10000);
    EXPECT_NE(accessibleItem(root, "Application Tone player"), nullptr);
    EXPECT_EQ(picker->property("displayText").toString(), "Tone player");
}

}  // namespace
}  // namespace orvinta::testing
