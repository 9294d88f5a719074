#include "capture/system_audio_diagnostics.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace orvinta {
namespace {

using Clock = SystemAudioTimingDiagnostics::Clock;
using std::chrono::duration_cast;
using ::testing::HasSubstr;

Clock::time_point at(double seconds) {
    return Clock::time_point(
        duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
}

TEST(SystemAudioTimingDiagnostics, BuffersArrivingAsFastAsTheyPlayPrintNoGapLine) {
    // 1024-frame buffers (21.3 ms) with contiguous presentation times, each arriving 21.3 ms
    // after the previous one: the stream is exactly on time.
    SystemAudioTimingDiagnostics diagnostics;
    const double duration = 1024.0 / 48000.0;
    for (int i = 0; i < 100; ++i) {
        const auto lines =
            diagnostics.recordBuffer(i * duration, duration, at(10.0 + i * duration), i + 1, i);
        EXPECT_FALSE(lines.gapLine) << "buffer " << i << ": " << *lines.gapLine;
    }
}

TEST(SystemAudioTimingDiagnostics, ContentJumpAndLateDeliveryPrintTheGapLine) {
    SystemAudioTimingDiagnostics diagnostics;
    const double duration = 0.020;
    diagnostics.recordBuffer(0.0, duration, at(1.000), 1, 1);
    // The next buffer starts 6 ms after the previous end: audio the server dropped.
    auto lines = diagnostics.recordBuffer(0.026, duration, at(1.026), 2, 2);
    ASSERT_TRUE(lines.gapLine);
    EXPECT_EQ(*lines.gapLine,
              "[Tessaro] SystemAudioCapture: PTS content gap 6.0ms, wall-clock delivery gap "
              "26.0ms (delivery running 0.0ms behind the audio it's delivering)");
    // Contiguous audio arriving 50 ms after a 20 ms buffer: delivery fell 30 ms behind.
    lines = diagnostics.recordBuffer(0.046, duration, at(1.076), 3, 3);
    ASSERT_TRUE(lines.gapLine);
    EXPECT_EQ(*lines.gapLine,
              "[Tessaro] SystemAudioCapture: PTS content gap 0.0ms, wall-clock delivery gap "
              "50.0ms (delivery running 30.0ms behind the audio it's delivering)");
    // A burst that catches up (two buffers at once) is not late.
    lines = diagnostics.recordBuffer(0.066, duration, at(1.077), 4, 4);
    EXPECT_FALSE(lines.gapLine);
    // 4 ms of jitter stays below both thresholds.
    lines = diagnostics.recordBuffer(0.086, duration, at(1.101), 5, 5);
    EXPECT_FALSE(lines.gapLine);
}

TEST(SystemAudioTimingDiagnostics, UnknownDurationSkipsTheGapCheckAndKeepsThePreviousEnd) {
    SystemAudioTimingDiagnostics diagnostics;
    diagnostics.recordBuffer(0.0, 0.020, at(1.0), 1, 1);
    // Far off in both content and time, but with no duration nothing is checked...
    EXPECT_FALSE(diagnostics.recordBuffer(0.5, std::nullopt, at(1.5), 2, 2).gapLine);
    // ...and the end is still the first buffer's (0.020), so 0.5 s is a 480 ms content gap.
    const auto lines = diagnostics.recordBuffer(0.5, 0.020, at(1.52), 3, 3);
    ASSERT_TRUE(lines.gapLine);
    EXPECT_THAT(*lines.gapLine, HasSubstr("PTS content gap 480.0ms"));
}

TEST(SystemAudioTimingDiagnostics, DriftLineComesWithTheFirstBufferAndThenEveryFiveSeconds) {
    SystemAudioTimingDiagnostics diagnostics;
    const double duration = 0.021;
    auto lines = diagnostics.recordBuffer(3.0, duration, at(100.0), 1, 0);
    ASSERT_TRUE(lines.driftMessage);
    EXPECT_EQ(*lines.driftMessage,
              "throughput check - 0.0s of capture elapsed, 0.0s of audio content delivered so "
              "far, drift = -0.0s (buffers: 1, converted OK: 0)");

    // 20 ms buffers for 12 s; at 6 s the server loses half a second of audio, which the
    // presentation times show and the drift keeps from then on.
    std::vector<std::string> messages;
    double pts = 3.0 + duration;
    for (int i = 1; i <= 600; ++i) {
        if (i == 300) {
            pts += 0.5;
        }
        lines = diagnostics.recordBuffer(pts, 0.020, at(100.0 + i * 0.020), i + 1, i);
        pts += 0.020;
        if (lines.driftMessage) {
            messages.push_back(*lines.driftMessage);
        }
    }
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0],
              "throughput check - 5.0s of capture elapsed, 5.0s of audio content delivered so "
              "far, drift = -0.0s (buffers: 251, converted OK: 250)");
    EXPECT_EQ(messages[1],
              "throughput check - 10.0s of capture elapsed, 10.5s of audio content delivered so "
              "far, drift = -0.5s (buffers: 501, converted OK: 500)");
}

TEST(SystemAudioTimingDiagnostics, ResetStartsANewTimeline) {
    SystemAudioTimingDiagnostics diagnostics;
    diagnostics.recordBuffer(50.0, 0.020, at(1.0), 1, 1);
    diagnostics.reset();
    // A new stream's clock starts at zero: no gap against the old run, and a first drift line.
    const auto lines = diagnostics.recordBuffer(0.0, 0.020, at(2.0), 1, 1);
    EXPECT_FALSE(lines.gapLine);
    ASSERT_TRUE(lines.driftMessage);
    EXPECT_THAT(*lines.driftMessage, HasSubstr("0.0s of capture elapsed"));
}

TEST(WatchdogVerdict, NoBuffersNoConversionAndConvertedBuffersEachReadTheirOwnWay) {
    auto verdict = watchdogVerdict(0, 0, std::nullopt);
    EXPECT_EQ(verdict.outcome, WatchdogVerdict::Outcome::noBuffers);
    EXPECT_EQ(verdict.line,
              "[Tessaro] SystemAudioCapture watchdog: 0 sample buffers received after 3s");
    EXPECT_EQ(verdict.journalMessage,
              "Watchdog: 0 audio sample buffers received from ScreenCaptureKit after 3s");
    EXPECT_TRUE(verdict.isError);
    ASSERT_TRUE(verdict.errorText);
    EXPECT_THAT(*verdict.errorText,
                ::testing::StartsWith("No system audio has arrived after 3 seconds."));
    EXPECT_THAT(*verdict.errorText,
                ::testing::EndsWith("(3) Try again while something is actually playing audio."));

    // Buffers without any conversion name the last reason.
    verdict = watchdogVerdict(42, 0, std::string("numSamples == 0"));
    EXPECT_EQ(verdict.outcome, WatchdogVerdict::Outcome::noneConverted);
    EXPECT_EQ(verdict.line,
              "[Tessaro] SystemAudioCapture watchdog: received 42 buffers, 0 converted OK, reason: "
              "numSamples == 0");
    EXPECT_EQ(verdict.journalMessage,
              "Watchdog: received 42 buffers but 0 converted OK (reason: numSamples == 0)");
    EXPECT_TRUE(verdict.isError);
    EXPECT_EQ(verdict.errorText,
              "Audio data is being received, but internal conversion is failing (reason: "
              "numSamples == 0).");
    EXPECT_EQ(
        watchdogVerdict(3, 0, std::nullopt).errorText,
        "Audio data is being received, but internal conversion is failing (reason: unknown).");

    // Converted buffers are fine, the converted count first.
    verdict = watchdogVerdict(150, 149, std::string("numSamples == 0"));
    EXPECT_EQ(verdict.outcome, WatchdogVerdict::Outcome::ok);
    EXPECT_EQ(verdict.line,
              "[Tessaro] SystemAudioCapture watchdog: OK - 149/150 buffers converted");
    EXPECT_EQ(verdict.journalMessage, "Watchdog: OK - 149/150 buffers converted");
    EXPECT_FALSE(verdict.isError);
    EXPECT_FALSE(verdict.errorText);
}

TEST(FirstBufferFormat, RateIsWrittenWithItsShortestDigitsAndAPoint) {
    EXPECT_EQ(shortestDecimal(48000.0), "48000.0");
    EXPECT_EQ(shortestDecimal(22050.5), "22050.5");
    EXPECT_EQ(
        firstBufferFormatLine(48000.0, 2, true),
        "[Tessaro] SystemAudioCapture: first buffer format: 48000.0 Hz, 2 ch, interleaved=true");
    EXPECT_EQ(
        firstBufferFormatLine(44100.0, 1, false),
        "[Tessaro] SystemAudioCapture: first buffer format: 44100.0 Hz, 1 ch, interleaved=false");
    EXPECT_EQ(firstBufferFormatJournalMessage(48000.0, 2, true),
              "First audio buffer format: 48000.000000 Hz, 2 ch, interleaved=true");
}

TEST(SystemAudioJournal, WritingWithoutAJournalIsHarmless) {
    writeSystemAudioJournal(false, "throughput check - test entry");
    writeSystemAudioJournal(true, "Watchdog: test entry");
}

}  // namespace
}  // namespace orvinta
