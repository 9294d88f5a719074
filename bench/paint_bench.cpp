// Times the painting of every dashboard instrument at its dashboard size with busy values
// (a full radar turn, 2 000 goniometer points, two spectrum rows, a full minute of history) and
// prints the milliseconds per frame of each and of all together. The values change before every
// frame, as they do at 30 hand-overs a second, so each frame pays for what really changes; the
// values are set outside the timed part. Each frame is timed by the wall clock and by the
// thread's CPU clock (what the painting costs, whatever else the machine is running), and the
// median frame counts, so that a frame that was preempted does not decide the figure.
//
//   paint_bench [frames, default 1500] [only the instruments whose name contains this]

#include <QGuiApplication>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "bench/instrument_scenes.h"

namespace {

double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) * 1e-6;
}

double median(std::vector<double>& values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1500;

    const QString only = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    auto scenes = orvinta::bench::dashboardScenes();
    std::erase_if(scenes, [&](const auto& scene) { return !scene.name.contains(only); });
    std::printf("%-26s %10s %12s %12s\n", "instrument (median frame)", "size", "wall ms", "cpu ms");
    double totalWall = 0.0;
    double totalCpu = 0.0;
    for (auto& scene : scenes) {
        const QSize size = scene.item->size().toSize();
        QImage image = orvinta::bench::textureFor(*scene.item);
        // Warm-up frame: builds the caches a first paint builds.
        scene.advance(0);
        orvinta::bench::paintInto(*scene.item, image);

        std::vector<double> wallMs;
        std::vector<double> cpuMs;
        wallMs.reserve(static_cast<std::size_t>(frames));
        cpuMs.reserve(static_cast<std::size_t>(frames));
        for (int frame = 1; frame <= frames; ++frame) {
            scene.advance(frame);
            const auto start = std::chrono::steady_clock::now();
            const double cpuStart = threadCpuMs();
            orvinta::bench::paintInto(*scene.item, image);
            cpuMs.push_back(threadCpuMs() - cpuStart);
            wallMs.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
        }
        const double wallMedian = median(wallMs);
        const double cpuMedian = median(cpuMs);
        totalWall += wallMedian;
        totalCpu += cpuMedian;
        std::printf("%-24s %5dx%-6d %12.3f %12.3f\n", qPrintable(scene.name), size.width(),
                    size.height(), wallMedian, cpuMedian);
    }
    std::printf("%-24s %12s %12.3f %12.3f\n", "all together", "", totalWall, totalCpu);
    return 0;
}
