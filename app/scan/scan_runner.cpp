#include "app/scan/scan_runner.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "app/scan/file_meter.h"
#include "app/scan/scan_report.h"

namespace orvinta {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kProgressInterval = std::chrono::milliseconds(250);

// What one worker is measuring; written by the worker, read by the progress display.
struct WorkerSlot {
    std::atomic<int> file{-1};
    std::atomic<Clock::rep> startTicks{0};
    std::atomic<double> secondsRead{0.0};
    std::atomic<double> secondsTotal{0.0};
};

class ScanSession {
public:
    ScanSession(const std::vector<std::string>& files, std::size_t workers,
                const ScanRunner::Output& output)
        : files(files),
          output(output),
          results(files.size()),
          done(files.size(), false),
          slots(workers),
          fileWidth(ScanReport::fileColumnWidth(files)) {}

    bool run() {
        if (!output.json) {
            std::fprintf(output.results, "%s\n", ScanReport::tableHeader(fileWidth).c_str());
        }
        std::vector<std::jthread> threads;
        for (std::size_t w = 0; w < slots.size(); ++w) {
            threads.emplace_back([this, w] { work(slots[w]); });
        }
        bool allMeasured = true;
        std::size_t printed = 0;
        std::unique_lock lock(mutex);
        while (printed < files.size()) {
            // Wakes when the next result is in, and every kProgressInterval to redraw.
            finished.wait_for(lock, kProgressInterval, [&] { return done[printed]; });
            std::vector<ScanResult> ready;
            while (printed < files.size() && done[printed]) {
                ready.push_back(std::move(results[printed++]));
            }
            lock.unlock();
            clearProgress();
            for (const ScanResult& result : ready) {
                allMeasured = allMeasured && result.measured();
                const std::string line = output.json ? ScanReport::jsonLine(result)
                                                     : ScanReport::tableRow(result, fileWidth);
                std::fprintf(output.results, "%s\n", line.c_str());
            }
            std::fflush(output.results);
            drawProgress();
            lock.lock();
        }
        lock.unlock();
        clearProgress();
        return allMeasured;
    }

private:
    void work(WorkerSlot& slot) {
        while (true) {
            const std::size_t index = next.fetch_add(1);
            if (index >= files.size()) {
                return;
            }
            slot.secondsRead = 0.0;
            slot.secondsTotal = 0.0;
            slot.startTicks = Clock::now().time_since_epoch().count();
            slot.file = static_cast<int>(index);
            ScanResult result =
                FileMeter::measure(files[index], [&slot](double read, double total) {
                    slot.secondsRead.store(read, std::memory_order_relaxed);
                    slot.secondsTotal.store(total, std::memory_order_relaxed);
                });
            slot.file = -1;
            {
                std::lock_guard guard(mutex);
                results[index] = std::move(result);
                done[index] = true;
            }
            finished.notify_one();
        }
    }

    void drawProgress() {
        if (output.progress == nullptr) {
            return;
        }
        const Clock::time_point now = Clock::now();
        progressLines = 0;
        for (const WorkerSlot& slot : slots) {
            const int file = slot.file;
            if (file < 0) {
                continue;
            }
            const double read = slot.secondsRead.load(std::memory_order_relaxed);
            const double total = slot.secondsTotal.load(std::memory_order_relaxed);
            const double elapsed =
                std::chrono::duration<double>(
                    now - Clock::time_point(Clock::duration(slot.startTicks.load())))
                    .count();
            std::string line = "  " + files[static_cast<std::size_t>(file)];
            char text[96];
            if (total > 0.0) {
                std::snprintf(text, sizeof text, "  %.1f s of %.1f s (%.0f %%)", read, total,
                              100.0 * read / total);
            } else {
                std::snprintf(text, sizeof text, "  %.1f s", read);
            }
            line += text;
            if (elapsed > 0.0) {
                std::snprintf(text, sizeof text, "  %.0f× real time", read / elapsed);
                line += text;
            }
            std::fprintf(output.progress, "\033[2K%s\n", line.c_str());
            ++progressLines;
        }
        std::fflush(output.progress);
    }

    void clearProgress() {
        if (output.progress == nullptr || progressLines == 0) {
            return;
        }
        // Back to the first progress line and clear everything below it.
        std::fprintf(output.progress, "\033[%dF\033[J", progressLines);
        std::fflush(output.progress);
        progressLines = 0;
    }

    const std::vector<std::string>& files;
    const ScanRunner::Output output;
    std::mutex mutex;
    std::condition_variable finished;
    // Guarded by `mutex`.
    std::vector<ScanResult> results;
    std::vector<bool> done;
    std::atomic<std::size_t> next{0};
    std::vector<WorkerSlot> slots;
    std::size_t fileWidth;
    int progressLines = 0;  // main thread only
};

}  // namespace

bool ScanRunner::run(const std::vector<std::string>& files, int jobs, const Output& output) {
    if (files.empty()) {
        return true;
    }
    const auto workers =
        std::clamp<std::size_t>(static_cast<std::size_t>(std::max(jobs, 1)), 1, files.size());
    ScanSession session(files, workers, output);
    return session.run();
}

int ScanRunner::availableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        return std::max(CPU_COUNT(&set), 1);
    }
    return std::max(static_cast<int>(std::thread::hardware_concurrency()), 1);
}

}  // namespace orvinta
