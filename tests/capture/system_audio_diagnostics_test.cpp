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
using ::testing::HasSubstr;

Clock::time_point at(double seconds) {
    return Clock::time_point(
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
}

TEST(SystemAudioTimingDiagnostics, GapLineFlagsSkippedAudioAndLateDeliveryOnly) {
    SystemAudioTimingDiagnostics diagnostics;
    diagnostics.recordBuffer(0.0, 0.020, at(1.000), 1, 1);
    struct Step {
        double pts;
        std::optional<double> duration;
        double arrival;
        const char* numbers;  // the gap line's content gap, delivery gap and lag; none: no line
    };
    const Step steps[] = {
        // 6 ms of audio the server dropped, arriving on time.
        {0.026, 0.020, 1.026, "gap 6.0ms, wall-clock delivery gap 26.0ms (delivery running 0.0ms"},
        // Contiguous audio 50 ms after a 20 ms buffer: delivery fell 30 ms behind.
        {0.046, 0.020, 1.076, "gap 0.0ms, wall-clock delivery gap 50.0ms (delivery running 30.0ms"},
        {0.066, 0.020, 1.077, nullptr},  // a burst that catches up is not late
        {0.086, 0.020, 1.101, nullptr},  // 4 ms of jitter
        {0.106, 0.020, 1.121, nullptr},  // exactly as fast as it plays
        // No duration: nothing checked, and the previous end (0.126) stays.
        {0.500, std::nullopt, 1.5, nullptr},
        {0.500, 0.020, 1.52, "gap 374.0ms"},
    };
    for (const auto& step : steps) {
        const auto line =
            diagnostics.recordBuffer(step.pts, step.duration, at(step.arrival), 1, 1).gapLine;
        if (step.numbers == nullptr) {
            EXPECT_FALSE(line) << *line;
        } else {
            ASSERT_TRUE(line) << step.pts;
            EXPECT_THAT(*line, HasSubstr(step.numbers));
        }
    }
}

TEST(SystemAudioTimingDiagnostics, DriftLineComesWithTheFirstBufferAndThenEveryFiveSeconds) {
    SystemAudioTimingDiagnostics diagnostics;
    const auto first = diagnostics.recordBuffer(3.0, 0.021, at(100.0), 1, 0).driftMessage;
    ASSERT_TRUE(first);
    EXPECT_THAT(*first, HasSubstr("0.0s of capture elapsed, 0.0s of audio content delivered so "
                                  "far, drift = -0.0s (buffers: 1, converted OK: 0)"));
    // 20 ms buffers for 12 s; at 6 s the server loses half a second of audio, which the
    // presentation times show and the drift keeps from then on.
    std::vector<std::string> messages;
    double pts = 3.021;
    for (int i = 1; i <= 600; ++i) {
        pts += i == 300 ? 0.5 : 0.0;
        if (auto message = diagnostics.recordBuffer(pts, 0.020, at(100.0 + i * 0.020), i + 1, i)
                               .driftMessage) {
            messages.push_back(*message);
        }
        pts += 0.020;
    }
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_THAT(messages[0], HasSubstr("5.0s of capture elapsed, 5.0s of audio content delivered "
                                       "so far, drift = -0.0s (buffers: 251, converted OK: 250)"));
    EXPECT_THAT(messages[1], HasSubstr("10.0s of capture elapsed, 10.5s of audio content "
                                       "delivered so far, drift = -0.5s (buffers: 501"));
}

TEST(WatchdogVerdict, NoBuffersNoConversionAndConvertedBuffersAreToldApart) {
    using Outcome = WatchdogVerdict::Outcome;
    for (const auto subject : {WatchdogSubject::microphone, WatchdogSubject::systemAudio}) {
        EXPECT_EQ(watchdogVerdict(subject, 0, 0, std::nullopt).outcome, Outcome::noBuffers);
        const auto failing = watchdogVerdict(subject, 42, 0, std::string("numSamples == 0"));
        EXPECT_EQ(failing.outcome, Outcome::noneConverted);
        EXPECT_THAT(failing.line, HasSubstr("received 42 buffers, 0 converted OK"));
        EXPECT_THAT(failing.errorText.value_or(""), HasSubstr("(reason: numSamples == 0)"));
        const auto fine = watchdogVerdict(subject, 150, 149, std::string("numSamples == 0"));
        EXPECT_EQ(fine.outcome, Outcome::ok);
        EXPECT_THAT(fine.line, HasSubstr("149/150"));
        EXPECT_FALSE(fine.isError || fine.errorText);
    }
    EXPECT_EQ(shortestDecimal(48000.0), "48000.0");
    EXPECT_EQ(shortestDecimal(22050.5), "22050.5");
}

}  // namespace
}  // namespace orvinta
