// The real application under a virtual X display, metering from a private PulseAudio server:
// keys typed into its window, its log lines, and what its window shows, compared with the same
// dashboard rendered offscreen in this process.

#include <QImage>
#include <QQuickItem>
#include <QTest>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/app/dashboard_fixture.h"
#include "tests/app/e2e_process.h"
#include "tests/support/pulse/private_pulse_server.h"

namespace orvinta::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const fs::path kOutputDirectory = fs::path(ORVINTA_APP_TEST_OUTPUT_DIR);

// The dashboard's layout and text renderings, from the same QML drawn offscreen here.
struct Reference {
    QRect rect;
    std::map<std::string, QImage> renderings;
};

QImage crop(const QImage& image, QRect rect) {
    return image.copy(rect).convertToFormat(QImage::Format_RGB32);
}

// Mean absolute difference per channel, 0 ... 255.
double distance(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return std::numeric_limits<double>::infinity();
    }
    double sum = 0.0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y);
            const QColor q = b.pixelColor(x, y);
            sum += std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) +
                   std::abs(p.blue() - q.blue());
        }
    }
    return sum / (3.0 * a.width() * a.height());
}

// The candidate whose rendering is nearest to the screenshot's region, with the margin to the
// second nearest.
std::pair<std::string, double> nearest(const QImage& screenshot, const Reference& reference) {
    const QImage actual = crop(screenshot, reference.rect);
    std::vector<std::pair<double, std::string>> ranked;
    for (const auto& [label, image] : reference.renderings) {
        ranked.emplace_back(distance(actual, image), label);
    }
    std::sort(ranked.begin(), ranked.end());
    const double margin = ranked.size() > 1 ? ranked[1].first - ranked[0].first : 0.0;
    return {ranked[0].second, margin};
}

class ApplicationEndToEnd : public ::testing::Test {
protected:
    QImage screenshot(const std::string& display, const std::string& name) {
        const fs::path path = kOutputDirectory / (name + ".png");
        run({"import", "-window", windowId_, path.string()}, display);
        return QImage(QString::fromStdString(path.string())).convertToFormat(QImage::Format_RGB32);
    }
    void key(const std::string& display, const std::string& keys) {
        run({"xdotool", "windowfocus", "--sync", windowId_}, display);
        run({"xdotool", "key", "--delay", "30", keys}, display);
        std::this_thread::sleep_for(250ms);
    }
    void click(const std::string& display, QPoint point) {
        run({"xdotool", "mousemove", "--window", windowId_, std::to_string(point.x()),
             std::to_string(point.y()), "click", "1"},
            display);
        std::this_thread::sleep_for(300ms);
    }

    // Starts the application on `display` and finds its window.
    Child& launch(const std::string& display, const fs::path& log, const fs::path& errors) {
        app_ = std::make_unique<Child>(
            std::vector<std::string>{ORVINTA_APP_PATH},
            std::map<std::string, std::string>{
                {"DISPLAY", display}, {"QT_QPA_PLATFORM", "xcb"}, {"XDG_RUNTIME_DIR", ""}},
            log, errors);
        windowId_ =
            run({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Orvinta$"}, display);
        while (!windowId_.empty() && std::isspace(static_cast<unsigned char>(windowId_.back()))) {
            windowId_.pop_back();
        }
        return *app_;
    }

    // The ids of the visible dashboard windows, one a line, once there are `count` (or 10 s on).
    static std::string visibleWindows(const std::string& display, long count) {
        std::string windows;
        for (int attempt = 0; attempt < 40; ++attempt) {
            windows = run({"xdotool", "search", "--onlyvisible", "--name", "^Orvinta$"}, display);
            if (std::count(windows.begin(), windows.end(), '\n') == count) {
                break;
            }
            std::this_thread::sleep_for(250ms);
        }
        return windows;
    }

    std::unique_ptr<Child> app_;
    std::string windowId_;
};

TEST_F(ApplicationEndToEnd, MetersKeysResetsSwitchesSourceAndSurvivesTheSoundServer) {
    fs::create_directories(kOutputDirectory);

    // References: the layout and the texts the window must show, drawn offscreen here.
    Reference target;
    Reference range;
    Reference integrated;
    QRect banner;
    QPoint inputPicker;
    {
        DashboardFixture dashboard;
        target.rect = dashboard.sceneRect("targetChipText").toAlignedRect();
        range.rect = dashboard.sceneRect("rangeChipText").toAlignedRect();
        integrated.rect =
            dashboard.sceneRect("integratedText").toAlignedRect().adjusted(0, 0, 60, 0);
        inputPicker = dashboard.sceneRect("inputSourcePicker").center().toPoint();
        for (double delta : {0.0, 0.5, -0.5}) {
            dashboard.state().setTargetOverrideLUFSVariant(-23.0 + delta);
            target.renderings[QString::number(-23.0 + delta, 'f', 1).toStdString()] =
                crop(dashboard.grab(), target.rect);
        }
        dashboard.state().setTargetOverrideLUFSVariant(-22.5);
        for (double outer : {-3.5, -3.0, -2.5}) {
            dashboard.state().setRadarOuterLUFS(outer);
            range.renderings[QString::number(outer + 22.5, 'f', 1).toStdString()] =
                crop(dashboard.grab(), range.rect);
        }
        integrated.renderings["none"] = crop(dashboard.grab(), integrated.rect);
        LoudnessSnapshot snapshot;
        snapshot.integratedLUFS = -20.0;
        dashboard.state().readings().publish(snapshot);
        integrated.renderings["measured"] = crop(dashboard.grab(), integrated.rect);
        dashboard.state().setErrorMessageText(QStringLiteral("x"));
        dashboard.grab();
        banner = dashboard.sceneRect("errorBanner").toAlignedRect();
    }

    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    server.playSineIntoMicrophone(0.1);  // -20 dBFS, 1 kHz

    VirtualDisplay display(kOutputDirectory);
    ASSERT_FALSE(display.name().empty()) << readFile(kOutputDirectory / "e2e-xvfb.err");

    const fs::path log = kOutputDirectory / "e2e-app.log";
    const fs::path errors = kOutputDirectory / "e2e-app.err";
    Child& app = launch(display.name(), log, errors);
    ASSERT_FALSE(windowId_.empty()) << readFile(errors);
    ASSERT_EQ(windowId_.find('\n'), std::string::npos) << "one window at launch: " << windowId_;

    // The first frame takes a while on a software OpenGL: wait until the dashboard shows.
    QImage fresh;
    const auto firstFrameDeadline = std::chrono::steady_clock::now() + 20s;
    do {
        std::this_thread::sleep_for(300ms);
        fresh = screenshot(display.name(), "e2e-fresh");
    } while (!(fresh.size() == QSize(1440, 1150) &&
               isClose(fresh.pixelColor(5, 575), QColor::fromRgbF(0.09f, 0.095f, 0.10f), 3) &&
               nearest(fresh, target).second > 0.0) &&
             std::chrono::steady_clock::now() < firstFrameDeadline);
    ASSERT_EQ(fresh.size(), QSize(1440, 1150));
    EXPECT_EQ(nearest(fresh, target).first, "-23.0");
    EXPECT_EQ(nearest(fresh, integrated).first, "none");
    EXPECT_EQ(readFile(log), "") << "nothing is printed before metering starts";

    // The window asks the window manager for the canvas's proportions and two thirds of its
    // size at least.
    const std::string hints = run({"xprop", "-id", windowId_, "WM_NORMAL_HINTS"}, display.name());
    EXPECT_NE(hints.find("program specified minimum size: 960 by 767"), std::string::npos) << hints;
    EXPECT_NE(hints.find("program specified minimum aspect ratio: 1440/1150"), std::string::npos)
        << hints;
    EXPECT_NE(hints.find("program specified maximum aspect ratio: 1440/1150"), std::string::npos)
        << hints;

    // Ctrl+N opens a second dashboard, Ctrl+W closes the focused one.
    key(display.name(), "ctrl+n");
    std::string windows = visibleWindows(display.name(), 2);
    ASSERT_EQ(std::count(windows.begin(), windows.end(), '\n'), 2) << windows;
    std::string second = windows.substr(0, windows.find('\n')) == windowId_
                             ? windows.substr(windows.find('\n') + 1)
                             : windows.substr(0, windows.find('\n'));
    second.erase(second.find_last_not_of("\n") + 1);
    run({"xdotool", "windowfocus", "--sync", second}, display.name());
    run({"xdotool", "key", "ctrl+w"}, display.name());
    EXPECT_EQ(visibleWindows(display.name(), 1), windowId_ + "\n");
    EXPECT_TRUE(app.isAlive());

    // Space starts metering from the microphone.
    key(display.name(), "space");
    std::size_t at = waitForText(log, "[Tessaro] LoudnessEngine started (channelCount=", 0, 10s);
    ASSERT_NE(at, std::string::npos) << readFile(log) << readFile(errors);
    EXPECT_NE(waitForText(log, "[Tessaro] AppState: mainActor hop delay avg=", at, 10s),
              std::string::npos);
    EXPECT_NE(waitForText(log, "[Tessaro] throughput: ", at, 10s), std::string::npos)
        << readFile(log);

    // Right raises the target by 0.5; Shift+Up widens the range by 0.5.
    key(display.name(), "Right");
    const QImage afterRight = screenshot(display.name(), "e2e-after-right");
    const auto [targetShown, targetMargin] = nearest(afterRight, target);
    EXPECT_EQ(targetShown, "-22.5") << "margin " << targetMargin;
    EXPECT_EQ(nearest(afterRight, range).first, "19.5");
    key(display.name(), "shift+Up");
    const QImage afterShiftUp = screenshot(display.name(), "e2e-after-shift-up");
    EXPECT_EQ(nearest(afterShiftUp, range).first, "20.0");
    EXPECT_EQ(nearest(afterShiftUp, target).first, "-22.5");

    // After two seconds of a steady sine the integrated loudness is on screen; stopping keeps
    // it, and the delete key clears it.
    std::this_thread::sleep_for(2500ms);
    key(display.name(), "space");
    EXPECT_NE(waitForText(log, "[Tessaro] LoudnessEngine stopped", at, 5s), std::string::npos);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(nearest(screenshot(display.name(), "e2e-stopped"), integrated).first, "measured");
    key(display.name(), "BackSpace");
    EXPECT_EQ(nearest(screenshot(display.name(), "e2e-after-reset"), integrated).first, "none");

    // Switching to system audio while running restarts capture on the new source.
    key(display.name(), "space");
    const std::size_t secondStart =
        waitForText(log, "[Tessaro] LoudnessEngine started", at + 1, 10s);
    ASSERT_NE(secondStart, std::string::npos) << readFile(log);
    server.playSineIntoSpeakers(0.1);
    click(display.name(), inputPicker);
    click(display.name(), inputPicker + QPoint(0, 15 + 2 + 4 + 30 + 15));
    const std::size_t restart = waitForText(
        log, "[Tessaro] AppState: restarting capture for input source change -> System Audio",
        secondStart, 10s);
    EXPECT_NE(restart, std::string::npos) << readFile(log);
    EXPECT_NE(waitForText(log, "[Tessaro] LoudnessEngine started (channelCount=2)",
                          restart == std::string::npos ? secondStart : restart, 10s),
              std::string::npos)
        << readFile(log);
    std::this_thread::sleep_for(2s);
    const QImage metering = screenshot(display.name(), "e2e-dashboard");
    EXPECT_EQ(nearest(metering, integrated).first, "measured");

    // The sound server dies while metering: the banner tells why, and the app keeps running.
    server.kill();
    const std::size_t reported =
        waitForText(log, "[Tessaro] AppState: engine reported error: ", restart, 10s);
    EXPECT_NE(reported, std::string::npos) << readFile(log);
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(app.isAlive());
    const QImage failed = screenshot(display.name(), "e2e-server-gone");
    int orange = 0;
    for (int y = banner.top(); y <= banner.bottom(); ++y) {
        for (int x = banner.left(); x < banner.left() + 500; ++x) {
            const QColor c = failed.pixelColor(x, y);
            if (c.red() > 200 && c.green() > 100 && c.green() < 190 && c.blue() < 80) {
                ++orange;
            }
        }
    }
    EXPECT_GT(orange, 100) << "the error banner shows the server's message";

    // Ctrl+Q ends the application normally.
    key(display.name(), "ctrl+q");
    const auto status = app.waitForExit(5000ms);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    const std::string stderrText = readFile(errors);
    EXPECT_EQ(stderrText.find("qml"), std::string::npos) << stderrText;
}

// A sound server that stops answering (SIGSTOP) while metering: STOP and a new START go
// through, and quitting ends the process within 2 s although that start hangs on the server.
TEST_F(ApplicationEndToEnd, QuitsPromptlyWhileTheSoundServerHangs) {
    fs::create_directories(kOutputDirectory);
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    VirtualDisplay display(kOutputDirectory);
    ASSERT_FALSE(display.name().empty());
    const fs::path log = kOutputDirectory / "e2e-hang.log";
    Child& app = launch(display.name(), log, kOutputDirectory / "e2e-hang.err");
    ASSERT_FALSE(windowId_.empty());
    key(display.name(), "space");
    ASSERT_NE(waitForText(log, "[Tessaro] LoudnessEngine started", 0, 10s), std::string::npos);

    const pid_t daemon = std::atoi(
        run({"pgrep", "-P", std::to_string(::getpid()), "-x", "pulseaudio"}, display.name())
            .c_str());
    ASSERT_GT(daemon, 0);
    ::kill(daemon, SIGSTOP);
    key(display.name(), "space");
    key(display.name(), "space");
    run({"xdotool", "key", "ctrl+q"}, display.name());
    const auto status = app.waitForExit(2000ms);
    ::kill(daemon, SIGCONT);
    ASSERT_TRUE(status.has_value()) << readFile(log);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

// Standard output on a pipe that nobody reads any more (closed) or that is full and never
// drained: the meter starts, meters, stops and quits normally all the same.
TEST_F(ApplicationEndToEnd, SurvivesAClosedOrStalledStandardOutput) {
    fs::create_directories(kOutputDirectory);
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    server.playSineIntoMicrophone(0.1);
    VirtualDisplay display(kOutputDirectory);
    const auto recording = [&] {
        return server.pactl({"list", "source-outputs"}).find("application.name = \"Orvinta\"") !=
               std::string::npos;
    };
    const auto within = [](std::chrono::milliseconds timeout, const auto& condition) {
        return eventually(condition, timeout, 50ms);
    };
    for (const bool closed : {true, false}) {
        SCOPED_TRACE(closed ? "closed" : "full");
        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
        const std::string filler(65536, 'x');
        (void)::write(fds[1], filler.data(), closed ? 0 : filler.size());
        ::fcntl(fds[1], F_SETFL, 0);
        if (closed) {
            ::close(std::exchange(fds[0], -1));
        }
        const fs::path errors = kOutputDirectory / "e2e-pipe.err";
        Child app(
            {ORVINTA_APP_PATH},
            {{"DISPLAY", display.name()}, {"QT_QPA_PLATFORM", "xcb"}, {"XDG_RUNTIME_DIR", ""}},
            "/dev/fd/" + std::to_string(fds[1]), errors);
        ::close(fds[1]);
        windowId_ = run({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Orvinta$"},
                        display.name());
        windowId_.erase(windowId_.find_last_not_of(" \n") + 1);
        // START (again if the first key came before the window took keys), three seconds of
        // metering and log lines, STOP and quit.
        ASSERT_TRUE(within(20s, [&] {
            key(display.name(), "space");
            return within(3s, recording);
        })) << readFile(errors);
        EXPECT_FALSE(within(3s, [&] { return !app.isAlive(); }));
        key(display.name(), "space");
        EXPECT_TRUE(within(5s, [&] { return !recording(); }));
        key(display.name(), "ctrl+q");
        const auto status = app.waitForExit(5000ms);
        ASSERT_TRUE(status.has_value());
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
        if (fds[0] >= 0) {
            ::close(fds[0]);
        }
    }
}

}  // namespace
}  // namespace orvinta::testing
