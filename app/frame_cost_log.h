#pragma once

#include <QObject>

#include <chrono>

class QQuickWindow;

namespace orvinta {

// Measures what each frame of a window costs, from the start of the scene graph's
// synchronisation (where the painted instruments paint) to the frame's hand-over to the
// display, and logs the average, the maximum and the frames per second every five seconds:
//   "[Tessaro] frames: 10.0 fps, paint+render avg=1.23ms max=4.56ms (50 frames, software scene
//   graph)"
// Owned by its window. The fields are touched only on the thread that renders the window (the
// UI thread, or the scene graph's render thread where the render loop has one), which emits
// the signals it listens to in order, one frame after the other.
class FrameCostLog : public QObject {
    Q_OBJECT

public:
    static void install(QQuickWindow* window);

private:
    explicit FrameCostLog(QQuickWindow* window);

    void frameStarted();
    void frameEnded();

    using Clock = std::chrono::steady_clock;
    Clock::time_point frameStart_{};
    bool inFrame_ = false;
    Clock::time_point intervalStart_{};
    double sumMs_ = 0.0;
    double maxMs_ = 0.0;
    long long frames_ = 0;
};

}  // namespace orvinta
