#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "measurement/loudness_analyzer.h"

namespace orvinta {

// The time arithmetic of the loudness engine, kept apart from its threads and clocks so that
// each rule can be checked without waiting on a wall clock. All functions are pure.
namespace engine_timing {

using TimePoint = std::chrono::steady_clock::time_point;

inline constexpr double sampleRate = LoudnessAnalyzer::sampleRate;
inline constexpr std::chrono::milliseconds minEmitInterval{33};
inline constexpr std::chrono::seconds throughputLogInterval{2};
inline constexpr double stallThresholdMs = 90.0;
inline constexpr std::int64_t keepAliveTickMs = 50;
inline constexpr double maxSilenceGapMs = 500.0;
// Injected silence reaches the analyzer in blocks of at most this many frames (20 ms), so that
// every 100 ms hop reads its own window, not the newest samples of one long buffer.
inline constexpr std::int64_t maxSilenceBlockFrames = 960;
// Captured audio waiting for the processing queue at most (2 s); the intake drops beyond it.
inline constexpr std::int64_t maxFramesInFlight = 96000;

// Milliseconds from `from` to `to` (negative when `to` is earlier), taken from the difference
// in nanoseconds.
double millisecondsBetween(TimePoint from, TimePoint to);

// True when no real buffer for `stallMs` is a stall: strictly more than 90 ms.
bool isStalled(double stallMs);

// Frames of silence that cover `gapMs` since the analyzer was last fed: the gap is clamped
// to 500 ms and the count truncated, but is at least 1. A gap of 0 ms or less gives 0: nothing
// to inject.
std::int64_t silenceFrameCount(double gapMs);

// True when a snapshot taken at `now` may go out: at least 33 ms after the last one.
bool mayEmit(TimePoint now, TimePoint lastEmitTime);

// True when the throughput window that began at `windowStart` is due for its line at `now`.
bool throughputLineDue(TimePoint now, TimePoint windowStart);

// Buffers per second rounded to one decimal (halves away from zero) and written with its
// shortest digits and at least one after the point: "46.9", "50.0". 0 when elapsedMs <= 0.
std::string formatBufferRate(std::int64_t buffers, double elapsedMs);

// The figures of one throughput window.
struct ThroughputWindow {
    std::int64_t buffers = 0;
    std::int64_t frames = 0;
    double maxQueueDelayMs = 0.0;
    double sumQueueDelayMs = 0.0;
    double maxProcessMs = 0.0;
    double sumProcessMs = 0.0;
};

// "[Tessaro] throughput: ..." for a window that lasted `elapsedMs`. Averages are per buffer;
// silence buffers count in the buffers and process times but add no queue delay.
std::string throughputLine(const ThroughputWindow& window, double elapsedMs);

// "[Tessaro] stage breakdown ..." for the analyzer's stage timing of one report period.
std::string stageBreakdownLine(const LoudnessAnalyzer::StageBreakdown& times);

}  // namespace engine_timing
}  // namespace orvinta
