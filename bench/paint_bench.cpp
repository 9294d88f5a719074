// Times the painting of every dashboard instrument at its dashboard size with busy values
// (a full radar turn, 2 000 goniometer points, two spectrum rows, a full minute of history) and
// prints the milliseconds per frame of each and of all together. The values change before every
// frame, as they do at 30 hand-overs a second, so each frame pays for what really changes; the
// values are set outside the timed part. Each frame is timed by the wall clock and by the
// thread's CPU clock (what the painting costs, whatever else the machine is running); the best
// of several rounds counts.
//
//   paint_bench [frames per round, default 300]

#include <QGuiApplication>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "bench/instrument_scenes.h"

namespace {

double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) * 1e-6;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    constexpr int kRounds = 5;

    auto scenes = orvinta::bench::dashboardScenes();
    std::printf("%-24s %12s %12s %12s\n", "instrument", "size", "wall ms", "cpu ms");
    double totalWall = 0.0;
    double totalCpu = 0.0;
    for (auto& scene : scenes) {
        const QSize size = scene.item->size().toSize();
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        // Warm-up frame: builds the caches a first paint builds.
        scene.advance(0);
        orvinta::bench::paintInto(*scene.item, image);

        double bestWall = std::numeric_limits<double>::infinity();
        double bestCpu = std::numeric_limits<double>::infinity();
        int frame = 1;
        for (int round = 0; round < kRounds; ++round) {
            std::chrono::steady_clock::duration wall{};
            double cpu = 0.0;
            for (int n = 0; n < frames; ++n, ++frame) {
                scene.advance(frame);
                const auto start = std::chrono::steady_clock::now();
                const double cpuStart = threadCpuMs();
                orvinta::bench::paintInto(*scene.item, image);
                cpu += threadCpuMs() - cpuStart;
                wall += std::chrono::steady_clock::now() - start;
            }
            bestWall = std::min(bestWall,
                                std::chrono::duration<double, std::milli>(wall).count() / frames);
            bestCpu = std::min(bestCpu, cpu / frames);
        }
        totalWall += bestWall;
        totalCpu += bestCpu;
        std::printf("%-24s %5dx%-6d %12.3f %12.3f\n", qPrintable(scene.name), size.width(),
                    size.height(), bestWall, bestCpu);
    }
    std::printf("%-24s %12s %12.3f %12.3f\n", "all together", "", totalWall, totalCpu);
    return 0;
}
