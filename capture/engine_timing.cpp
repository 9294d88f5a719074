#include "capture/engine_timing.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace orvinta::engine_timing {

double millisecondsBetween(TimePoint from, TimePoint to) {
    const auto nanoseconds =
        std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count();
    return static_cast<double>(nanoseconds) / 1'000'000.0;
}

bool isStalled(double stallMs) {
    return stallMs > stallThresholdMs;
}

std::int64_t silenceFrameCount(double gapMs) {
    const double clamped = std::min(gapMs, maxSilenceGapMs);
    if (!(clamped > 0.0)) {
        return 0;
    }
    const auto frames = static_cast<std::int64_t>(clamped / 1000.0 * sampleRate);
    return std::max<std::int64_t>(frames, 1);
}

bool mayEmit(TimePoint now, TimePoint lastEmitTime) {
    return now >= lastEmitTime + minEmitInterval;
}

bool throughputLineDue(TimePoint now, TimePoint windowStart) {
    return now >= windowStart + throughputLogInterval;
}

std::string formatBufferRate(std::int64_t buffers, double elapsedMs) {
    double rate = 0.0;
    if (elapsedMs > 0.0) {
        // std::round takes halves away from zero.
        rate = std::round(static_cast<double>(buffers) / (elapsedMs / 1000.0) * 10.0) / 10.0;
    }
    char text[400];  // room for the widest fixed-point double
    const auto result = std::to_chars(text, text + sizeof text, rate, std::chars_format::fixed);
    std::string written(text, result.ptr);
    if (written.find('.') == std::string::npos) {
        written += ".0";
    }
    return written;
}

std::string throughputLine(const ThroughputWindow& window, double elapsedMs) {
    const std::int64_t n = window.buffers;
    const double avgQueueDelayMs = n >= 1 ? window.sumQueueDelayMs / static_cast<double>(n) : 0.0;
    const double avgProcessMs = n >= 1 ? window.sumProcessMs / static_cast<double>(n) : 0.0;
    char figures[200];
    std::snprintf(figures, sizeof figures,
                  " buffers/s) - queueDelay avg=%.1fms max=%.1fms, process avg=%.2fms max=%.2fms",
                  avgQueueDelayMs, window.maxQueueDelayMs, avgProcessMs, window.maxProcessMs);
    return "[Tessaro] throughput: " + std::to_string(n) + " buffers / " +
           std::to_string(window.frames) + " frames over " +
           std::to_string(static_cast<std::int64_t>(elapsedMs)) + " ms (avg " +
           formatBufferRate(n, elapsedMs) + figures;
}

std::string stageBreakdownLine(const LoudnessAnalyzer::StageBreakdown& t) {
    char line[512];
    std::snprintf(line, sizeof line,
                  "[Tessaro] stage breakdown (ms, avg/max per process() call): "
                  "truePeak=%.2f/%.2f kWeight=%.2f/%.2f ringWrite=%.2f/%.2f "
                  "hopEval[only calls where a hop fired, %lld/%lld]=%.2f/%.2f",
                  t.avgTruePeakMs, t.maxTruePeakMs, t.avgKWeightMs, t.maxKWeightMs,
                  t.avgRingWriteMs, t.maxRingWriteMs, static_cast<long long>(t.hopEvalCallCount),
                  static_cast<long long>(t.callCount), t.avgHopEvalMs, t.maxHopEvalMs);
    return line;
}

}  // namespace orvinta::engine_timing
