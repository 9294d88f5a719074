#pragma once

#include <QColor>
#include <QImage>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRectF>

#include <memory>
#include <vector>

#include "state/app_state.h"
#include "tests/support/fake_source/scripted_capture_source.h"

namespace orvinta::testing {

// One or more real dashboard windows (the application's Main.qml) on an AppState whose capture
// sources are scripted, rendered by the offscreen platform.
class DashboardFixture {
public:
    // `signal` is what every scripted source plays; manual pacing delivers nothing by itself.
    explicit DashboardFixture(ScriptedCaptureSource::Options sourceOptions = manualSilence());
    // A dashboard on a state of the caller's making (the real sources, say).
    explicit DashboardFixture(std::unique_ptr<AppState> state);
    ~DashboardFixture();

    static ScriptedCaptureSource::Options manualSilence();

    AppState& state() { return *state_; }
    QQuickWindow* window(int index = 0) { return windows_.at(static_cast<std::size_t>(index)); }
    // Opens one more dashboard window on the same state and waits until it is exposed.
    QQuickWindow* openWindow(QSize size = QSize(1440, 1150));

    // The item called `objectName` in the window's visual tree (Loader contents included).
    QQuickItem* item(const char* objectName, int windowIndex = 0);
    QString text(const char* objectName, int windowIndex = 0);
    // The item's rectangle in window pixels, after the canvas's scaling.
    QRectF sceneRect(const char* objectName, int windowIndex = 0);
    QImage grab(int windowIndex = 0);

    // Starts metering and waits until the state runs.
    bool startAndWait();
    std::shared_ptr<ScriptedCaptureSource> lastSource() const { return lastSource_; }

private:
    ScriptedCaptureSource::Options sourceOptions_;
    std::unique_ptr<AppState> state_;
    std::unique_ptr<QQmlEngine> engine_;
    std::vector<QQuickWindow*> windows_;
    std::shared_ptr<ScriptedCaptureSource> lastSource_;
    int grabCount_ = 0;
};

// Pixel helpers.
bool isClose(QColor actual, QColor expected, int tolerance = 12);
// Fraction of the pixels in `rect` whose colour is within `tolerance` of `colour`.
double shareOf(const QImage& image, QRect rect, QColor colour, int tolerance = 40);
// Whether some pixel in `rect` is "yellowish": strong red and green, weak blue.
int countYellow(const QImage& image, QRect rect);

}  // namespace orvinta::testing
