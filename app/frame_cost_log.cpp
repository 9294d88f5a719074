#include "app/frame_cost_log.h"

#include <QQuickWindow>
#include <QSGRendererInterface>

#include <algorithm>
#include <cstdio>

#include "capture/console_log.h"

namespace orvinta {

namespace {

constexpr auto kLogInterval = std::chrono::seconds(5);

}  // namespace

void FrameCostLog::install(QQuickWindow* window) {
    new FrameCostLog(window);
}

FrameCostLog::FrameCostLog(QQuickWindow* window) : QObject(window) {
    connect(window, &QQuickWindow::beforeSynchronizing, this, &FrameCostLog::frameStarted,
            Qt::DirectConnection);
    connect(window, &QQuickWindow::frameSwapped, this, &FrameCostLog::frameEnded,
            Qt::DirectConnection);
}

void FrameCostLog::frameStarted() {
    frameStart_ = Clock::now();
    inFrame_ = true;
}

void FrameCostLog::frameEnded() {
    if (!inFrame_) {
        return;
    }
    inFrame_ = false;
    const auto now = Clock::now();
    const double ms = std::chrono::duration<double, std::milli>(now - frameStart_).count();
    if (frames_ == 0 && intervalStart_ == Clock::time_point{}) {
        intervalStart_ = frameStart_;
    }
    sumMs_ += ms;
    maxMs_ = std::max(maxMs_, ms);
    ++frames_;
    const auto elapsed = now - intervalStart_;
    if (elapsed < kLogInterval) {
        return;
    }
    const double seconds = std::chrono::duration<double>(elapsed).count();
    const auto* window = qobject_cast<QQuickWindow*>(parent());
    const bool software =
        window && window->rendererInterface() &&
        window->rendererInterface()->graphicsApi() == QSGRendererInterface::Software;
    char line[200];
    std::snprintf(line, sizeof line,
                  "[Tessaro] frames: %.1f fps, paint+render avg=%.2fms max=%.2fms (%lld frames, "
                  "%s scene graph)",
                  static_cast<double>(frames_) / seconds, sumMs_ / static_cast<double>(frames_),
                  maxMs_, frames_, software ? "software" : "hardware");
    printLogLine(line);
    intervalStart_ = now;
    sumMs_ = 0.0;
    maxMs_ = 0.0;
    frames_ = 0;
}

}  // namespace orvinta
