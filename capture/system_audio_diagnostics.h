#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace orvinta {

// The timing diagnostics of the system-audio source: the gap line and the periodic drift line,
// decided from each buffer's presentation time on the stream's own clock and its arrival time
// on the monotonic clock. Used only on the source's delivery thread.
class SystemAudioTimingDiagnostics {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr double kContentGapThresholdMs = 5.0;
    static constexpr double kLagThresholdMs = 10.0;
    static constexpr double kDriftLogIntervalSeconds = 5.0;

    struct Lines {
        // The whole line to print, "[Tessaro] SystemAudioCapture: PTS content gap ...".
        std::optional<std::string> gapLine;
        // The drift message without the prefix, "throughput check - ...": printed after
        // "[Tessaro] SystemAudioCapture: " and written to the journal as it is.
        std::optional<std::string> driftMessage;
    };

    // Forgets everything of the previous run.
    void reset();

    // Takes one received buffer: its presentation time, its duration (nothing when unknown, which
    // skips the gap check and keeps the previous end), the arrival time and the counters as they
    // stand after counting this buffer.
    Lines recordBuffer(double presentationSeconds, std::optional<double> durationSeconds,
                       Clock::time_point now, long sampleBuffersReceived, long buffersConvertedOK);

private:
    std::optional<double> lastBufferStartPTS_;
    std::optional<double> lastBufferEndPTS_;
    std::optional<Clock::time_point> lastBufferWallClock_;
    std::optional<Clock::time_point> captureStartWallClock_;
    std::optional<double> captureStartPTS_;
    std::optional<Clock::time_point> lastDriftLogWallClock_;
};

// The source a start watchdog looks after; its lines and messages name it.
enum class WatchdogSubject { microphone, systemAudio };

// What the start watchdog found 3 s after a start. The journal message is the system-audio
// source's; the microphone writes no journal entries.
struct WatchdogVerdict {
    enum class Outcome { noBuffers, noneConverted, ok };

    Outcome outcome = Outcome::ok;
    std::string line;                      // printed to standard output
    std::string journalMessage;            // written to the journal
    bool isError = false;                  // journal priority err rather than notice
    std::optional<std::string> errorText;  // the noAudioDelivered text, for the error outcomes
};

WatchdogVerdict watchdogVerdict(WatchdogSubject subject, long sampleBuffersReceived,
                                long buffersConvertedOK,
                                const std::optional<std::string>& lastConversionFailureReason);

// A sample rate written with its shortest exact digits and at least one digit after the
// point: 48000.0, 44100.0, 22050.5.
std::string shortestDecimal(double value);

// "[Tessaro] SystemAudioCapture: first buffer format: 48000.0 Hz, 2 ch, interleaved=true"
std::string firstBufferFormatLine(double sampleRate, unsigned channels, bool interleaved);
// "First audio buffer format: 48000.000000 Hz, 2 ch, interleaved=true"
std::string firstBufferFormatJournalMessage(double sampleRate, unsigned channels, bool interleaved);

// Writes one entry to the systemd journal with CATEGORY=SystemAudioCapture, priority notice
// (isError false) or err. A journal that cannot be reached is ignored.
void writeSystemAudioJournal(bool isError, std::string_view message);

}  // namespace orvinta
