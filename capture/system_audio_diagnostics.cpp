#include "capture/system_audio_diagnostics.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "capture/console_log.h"

namespace orvinta {

namespace {

std::string format(const char* pattern, auto... arguments) {
    const int length = std::snprintf(nullptr, 0, pattern, arguments...);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, pattern, arguments...);
    return text;
}

double millisecondsBetween(SystemAudioTimingDiagnostics::Clock::time_point from,
                           SystemAudioTimingDiagnostics::Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

void SystemAudioTimingDiagnostics::reset() {
    *this = SystemAudioTimingDiagnostics();
}

SystemAudioTimingDiagnostics::Lines SystemAudioTimingDiagnostics::recordBuffer(
    double presentationSeconds, std::optional<double> durationSeconds, Clock::time_point now,
    long sampleBuffersReceived, long buffersConvertedOK) {
    Lines lines;

    if (lastBufferEndPTS_ && lastBufferWallClock_ && lastBufferStartPTS_ && durationSeconds) {
        // A content gap is audio the stream skipped (the server dropped it). The lag compares
        // the wall-clock time between two arrivals with the audio time between the two buffers'
        // starts, so buffers that arrive exactly as fast as they play show no lag at all.
        const double contentGapMs = (presentationSeconds - *lastBufferEndPTS_) * 1000.0;
        const double deliveryGapMs = millisecondsBetween(*lastBufferWallClock_, now);
        const double expectedGapMs = (presentationSeconds - *lastBufferStartPTS_) * 1000.0;
        const double lagMs = deliveryGapMs - expectedGapMs;
        if (std::fabs(contentGapMs) > kContentGapThresholdMs || lagMs > kLagThresholdMs) {
            lines.gapLine = format(
                "[Tessaro] SystemAudioCapture: PTS content gap %.1fms, wall-clock delivery gap "
                "%.1fms (delivery running %.1fms behind the audio it's delivering)",
                contentGapMs, deliveryGapMs, lagMs);
        }
    }
    if (durationSeconds) {
        lastBufferStartPTS_ = presentationSeconds;
        lastBufferEndPTS_ = presentationSeconds + *durationSeconds;
    }
    lastBufferWallClock_ = now;
    if (!captureStartWallClock_) {
        captureStartWallClock_ = now;
        captureStartPTS_ = presentationSeconds;
    }

    if (captureStartWallClock_ && captureStartPTS_ && lastBufferEndPTS_) {
        const bool due =
            !lastDriftLogWallClock_ ||
            millisecondsBetween(*lastDriftLogWallClock_, now) >= kDriftLogIntervalSeconds * 1000.0;
        if (due) {
            lastDriftLogWallClock_ = now;
            const double elapsed = millisecondsBetween(*captureStartWallClock_, now) / 1000.0;
            const double content = *lastBufferEndPTS_ - *captureStartPTS_;
            const double drift = elapsed - content;
            lines.driftMessage = format(
                "throughput check - %.1fs of capture elapsed, %.1fs of audio content delivered so "
                "far, drift = %.1fs (buffers: %ld, converted OK: %ld)",
                elapsed, content, drift, sampleBuffersReceived, buffersConvertedOK);
        }
    }
    return lines;
}

WatchdogVerdict watchdogVerdict(WatchdogSubject subject, long sampleBuffersReceived,
                                long buffersConvertedOK,
                                const std::optional<std::string>& lastConversionFailureReason) {
    const std::string prefix = subject == WatchdogSubject::systemAudio
                                   ? "[Tessaro] SystemAudioCapture watchdog: "
                                   : "[Tessaro] MicrophoneCapture watchdog: ";
    WatchdogVerdict verdict;
    if (sampleBuffersReceived == 0) {
        verdict.outcome = WatchdogVerdict::Outcome::noBuffers;
        verdict.line = prefix + "0 sample buffers received after 3s";
        verdict.journalMessage =
            "Watchdog: 0 audio sample buffers received from ScreenCaptureKit after 3s";
        verdict.isError = true;
        verdict.errorText =
            subject == WatchdogSubject::systemAudio
                ? "No system audio has arrived after 3 seconds: the sound server accepted the "
                  "recording but sends nothing, which usually means the output device is "
                  "suspended or not working. Choose another output device in your sound "
                  "settings, or restart the sound server (systemctl --user restart "
                  "pipewire-pulse, or pulseaudio -k), then press Start again."
                : "No audio has arrived from the microphone after 3 seconds: the input device "
                  "is connected but sends nothing, which usually means it is suspended or not "
                  "working. Choose another input device in your sound settings or reconnect "
                  "it, then press Start again.";
    } else if (buffersConvertedOK == 0) {
        const std::string reason = lastConversionFailureReason.value_or("unknown");
        verdict.outcome = WatchdogVerdict::Outcome::noneConverted;
        verdict.line = prefix + "received " + std::to_string(sampleBuffersReceived) +
                       " buffers, 0 converted OK, reason: " + reason;
        verdict.journalMessage = "Watchdog: received " + std::to_string(sampleBuffersReceived) +
                                 " buffers but 0 converted OK (reason: " + reason + ")";
        verdict.isError = true;
        verdict.errorText =
            "Audio data is being received, but internal conversion is failing (reason: " + reason +
            ").";
    } else {
        verdict.outcome = WatchdogVerdict::Outcome::ok;
        const std::string counts =
            std::to_string(buffersConvertedOK) + "/" + std::to_string(sampleBuffersReceived);
        verdict.line = prefix + "OK - " + counts + " buffers converted";
        verdict.journalMessage = "Watchdog: OK - " + counts + " buffers converted";
    }
    return verdict;
}

std::string shortestDecimal(double value) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed);
    std::string text(buffer, result.ptr);
    if (std::isfinite(value) && text.find('.') == std::string::npos) {
        text += ".0";
    }
    return text;
}

std::string firstBufferFormatLine(double sampleRate, unsigned channels, bool interleaved) {
    return "[Tessaro] SystemAudioCapture: first buffer format: " + shortestDecimal(sampleRate) +
           " Hz, " + std::to_string(channels) +
           " ch, interleaved=" + (interleaved ? "true" : "false");
}

std::string firstBufferFormatJournalMessage(double sampleRate, unsigned channels,
                                            bool interleaved) {
    return format("First audio buffer format: %f Hz, %u ch, interleaved=%s", sampleRate, channels,
                  interleaved ? "true" : "false");
}

void writeSystemAudioJournal(bool isError, std::string_view message) {
    // Through the log writer: the journal's socket must not stall the capture thread.
    writeJournalEntry("SystemAudioCapture", isError, message);
}

}  // namespace orvinta
