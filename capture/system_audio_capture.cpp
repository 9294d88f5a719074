#include "capture/system_audio_capture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "capture/audio_capture_error.h"
#include "capture/audio_format_converter.h"
#include "capture/console_log.h"
#include "capture/fixed_block_splitter.h"
#include "capture/pulse_connection.h"
#include "capture/system_audio_diagnostics.h"
#include "measurement/loudness_analyzer.h"

// What the computer plays is the default sink's monitor source. The server mixes every layout
// down to 48 000 Hz float stereo for us; the converter then only de-interleaves, and the splitter
// cuts 960-frame blocks.
//
// The source follows the output: it subscribes to server changes and, when the default sink
// changes or the recorded sink vanishes, connects a new stream to the new default sink's monitor
// and drops the old one, with the converter, the splitter and the timeline carried over. Streams
// are connected with PA_STREAM_DONT_MOVE, so the server can never move one onto a microphone;
// with no sink left, the failure goes to onError.
//
// Threads: start() and stop() take the mainloop lock (which the mainloop thread releases while it
// waits for the server, so neither waits on a hung server beyond the connection's own timeouts);
// every stream callback, the watchdog timer,
// the diagnostics, the converter and the callbacks to the owner run on the connection's mainloop
// thread with that lock held. stop() sets `isStopped` under the lock, so no callback runs once it
// has returned.
// The connection's thread is joined when the source is destroyed or started again, so neither may
// happen from inside one of the source's own callbacks.

namespace orvinta {

namespace {

constexpr double kSampleRate = LoudnessAnalyzer::sampleRate;
constexpr int kChannelCount = 2;
constexpr std::size_t kFragmentFrames = 960;
// Streams that fail one after another without delivering anything before we give up following.
constexpr int kMaxConsecutiveStreamFailures = 3;

constexpr pa_sample_spec kRecordSpec{PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(kSampleRate),
                                     kChannelCount};

void printStartCaptureFailed(const std::string& text) {
    printLogLine("[Tessaro] SystemAudioCapture: startCapture failed: " + text);
    writeSystemAudioJournal(true, "startCapture failed: " + text);
}

}  // namespace

struct SystemAudioCapture::Impl {
    explicit Impl(SystemAudioCapture& owner) : owner(owner) {}
    ~Impl() { teardown(); }

    void start();
    void stop();
    void teardown();

    // All below run with the mainloop lock held.
    pa_stream* connectStream(const std::string& monitorName, int& error);
    void followDefaultSink();
    void reportLostOutput();
    void switchTo(const std::string& sinkName, const std::string& monitorName);
    void reportFailure(const PulseError& error);
    // Server chunks are often a few milliseconds long and come in bursts; they are gathered
    // into 20 ms fragments, each of which is one sample buffer for the diagnostics.
    void gatherChunk(pa_stream* s, const float* samples, std::size_t frames);
    void flushFragment();
    void handleSampleBuffer(std::int64_t startFrames, const float* data, std::size_t frames);
    std::int64_t streamPositionFrames(pa_stream* s) const;

    static void streamStateChanged(pa_stream* s, void* userdata);
    static void streamReadable(pa_stream* s, std::size_t, void* userdata);
    static void watchdogFired(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                              void* userdata);

    SystemAudioCapture& owner;
    std::unique_ptr<PulseConnection> connection;

    // Guarded by the mainloop lock.
    pa_stream* stream = nullptr;
    std::string targetSinkName;
    bool isStopped = true;
    bool failureReported = false;
    int lostStreamError = PA_OK;
    int consecutiveStreamFailures = 0;
    std::uint64_t watchdogGeneration = 0;
    std::uint64_t armedWatchdogGeneration = 0;
    pa_time_event* watchdogEvent = nullptr;
    // The run's timeline, in frames: where the current stream's first frame lies, how many frames
    // it has given us, and where the last delivered chunk ended.
    std::int64_t streamBaseFrames = 0;
    std::int64_t streamFramesRead = 0;
    std::int64_t timelineEndFrames = 0;

    // The counters are atomics so that they can be read from any thread (the watchdog reads them
    // on the mainloop thread today; relaxed order suffices for counts that decide a message).
    std::atomic<long> sampleBuffersReceived{0};
    std::atomic<long> buffersConvertedOK{0};

    // Mainloop thread only.
    std::unique_ptr<AudioFormatConverter> converter;
    FixedBlockSplitter splitter{kChannelCount};
    SystemAudioTimingDiagnostics timing;
    std::optional<std::string> lastConversionFailureReason;
    bool loggedFirstFormat = false;
    std::vector<float> fragment = std::vector<float>(kFragmentFrames * kChannelCount);
    std::size_t fragmentFrames = 0;
    std::int64_t fragmentStartFrames = 0;
};

void SystemAudioCapture::Impl::start() {
    teardown();

    // The default sink is what the computer plays to: with the connection, the counterpart of
    // listing the shareable content.
    std::optional<PulseRecordDevice> sink;
    try {
        connection = std::make_unique<PulseConnection>(kPulseClientName, kPulseConnectTimeout);
        PulseConnection::Lock lock(*connection);
        sink = connection->device(PulseDeviceKind::sink, {}, kPulseQueryTimeout);
    } catch (const PulseError& error) {
        if (error.code() == PA_ERR_ACCESS) {
            printLogLine(
                "[Tessaro] SystemAudioCapture: SCShareableContent reports permission not granted "
                "(userDeclined)");
            throw AudioCaptureError::permissionDenied();
        }
        printLogLine("[Tessaro] SystemAudioCapture: SCShareableContent fetch failed: " +
                     error.serverText());
        // Its text names the server and how to start it.
        throw AudioCaptureError::streamSetupFailed(error.what());
    }
    PulseConnection::Lock lock(*connection);
    if (!sink) {
        printLogLine("[Tessaro] SystemAudioCapture: no displays available from SCShareableContent");
        throw AudioCaptureError::noDisplayAvailable();
    }

    converter = std::make_unique<AudioFormatConverter>(kChannelCount);
    splitter.reset();
    sampleBuffersReceived.store(0, std::memory_order_relaxed);
    buffersConvertedOK.store(0, std::memory_order_relaxed);
    lastConversionFailureReason.reset();
    loggedFirstFormat = false;
    fragmentFrames = 0;
    // A new connection starts a new stream clock, so the previous run's timing means nothing.
    timing.reset();
    streamBaseFrames = 0;
    streamFramesRead = 0;
    timelineEndFrames = 0;
    failureReported = false;
    consecutiveStreamFailures = 0;

    int error = PA_OK;
    stream = connectStream(sink->recordSourceName, error);
    if (stream != nullptr) {
        error = connection->waitForStreamReady(stream, kPulseStreamTimeout);
    }
    if (error != PA_OK) {
        PulseConnection::releaseStream(stream);
        printStartCaptureFailed(pa_strerror(error));
        throw AudioCaptureError::streamSetupFailed(PulseError(error).what());
    }
    targetSinkName = sink->name;

    connection->onConnectionLost = [this](int code) { reportFailure(PulseError(code)); };
    connection->onServerChanged = [this] { followDefaultSink(); };

    isStopped = false;
    printLogLine(
        "[Tessaro] SystemAudioCapture: SCStream capture started, waiting for audio buffers...");
    writeSystemAudioJournal(false, "SCStream capture started");
    ++watchdogGeneration;
    armedWatchdogGeneration = watchdogGeneration;
    watchdogEvent = connection->startTimer(kPulseStartWatchdogUsec, &Impl::watchdogFired, this);
}

void SystemAudioCapture::Impl::stop() {
    if (!connection) {
        return;
    }
    // Everything here only sends requests: the server finishes the disconnect in the
    // background, and the connection itself closes with the source or the next start.
    PulseConnection::Lock lock(*connection);
    isStopped = true;
    PulseConnection::releaseStream(stream);
    ++watchdogGeneration;
    connection->cancelTimer(watchdogEvent);
    connection->onConnectionLost = nullptr;
    connection->onServerChanged = nullptr;
}

void SystemAudioCapture::Impl::teardown() {
    stop();
    connection.reset();
    converter.reset();
}

pa_stream* SystemAudioCapture::Impl::connectStream(const std::string& monitorName, int& error) {
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    return connection->connectRecordStream(
        monitorName, "System audio", kRecordSpec, &map,
        static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE),
        &Impl::streamStateChanged, &Impl::streamReadable, this, error);
}

void SystemAudioCapture::Impl::watchdogFired(pa_mainloop_api* api, pa_time_event* event,
                                             const struct timeval*, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    api->time_free(event);
    self->watchdogEvent = nullptr;
    // A stop or a newer start since this watchdog was armed disarms it.
    if (self->armedWatchdogGeneration != self->watchdogGeneration || self->stream == nullptr ||
        self->isStopped) {
        return;
    }
    const WatchdogVerdict verdict = watchdogVerdict(
        WatchdogSubject::systemAudio, self->sampleBuffersReceived.load(std::memory_order_relaxed),
        self->buffersConvertedOK.load(std::memory_order_relaxed),
        self->lastConversionFailureReason);
    printLogLine(verdict.line);
    writeSystemAudioJournal(verdict.isError, verdict.journalMessage);
    if (verdict.errorText && self->owner.onError) {
        self->owner.onError(
            std::make_exception_ptr(AudioCaptureError::noAudioDelivered(*verdict.errorText)));
    }
}

void SystemAudioCapture::Impl::followDefaultSink() {
    connection->lookUpDevice(PulseDeviceKind::sink, {},
                             [this](std::optional<PulseRecordDevice> sink) {
                                 if (isStopped || failureReported) {
                                     return;
                                 }
                                 if (!sink) {
                                     reportLostOutput();
                                 } else if (stream == nullptr || sink->name != targetSinkName) {
                                     switchTo(sink->name, sink->recordSourceName);
                                 }
                             });
}

void SystemAudioCapture::Impl::reportLostOutput() {
    if (stream != nullptr) {
        return;
    }
    reportFailure(
        PulseError(lostStreamError,
                   "The output device being recorded went away and no other output device is "
                   "available. Connect or enable one in your sound settings, then press Start "
                   "again."));
}

void SystemAudioCapture::Impl::switchTo(const std::string& sinkName,
                                        const std::string& monitorName) {
    flushFragment();
    int error = PA_OK;
    pa_stream* next = connectStream(monitorName, error);
    if (next == nullptr) {
        reportFailure(PulseError(error));
        return;
    }
    PulseConnection::releaseStream(stream);
    stream = next;
    targetSinkName = sinkName;
    // The new stream's clock starts at zero where the old stream's audio ended.
    streamBaseFrames = timelineEndFrames;
    streamFramesRead = 0;
    printLogLine("[Tessaro] SystemAudioCapture: following the default output to " + sinkName +
                 " (recording " + monitorName + ")");
}

void SystemAudioCapture::Impl::reportFailure(const PulseError& error) {
    if (isStopped || failureReported) {
        return;
    }
    failureReported = true;
    connection->cancelTimer(watchdogEvent);
    printLogLine(std::string("[Tessaro] SystemAudioCapture: SCStream stopped with error: ") +
                 error.what());
    writeSystemAudioJournal(true, std::string("SCStream stopped with error: ") + error.what());
    if (owner.onError) {
        owner.onError(std::make_exception_ptr(error));
    }
}

void SystemAudioCapture::Impl::streamStateChanged(pa_stream* s, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    const int lost = self->connection->streamLostItsDevice(s, self->stream, !self->isStopped);
    if (lost == PA_OK) {
        return;
    }
    // Follow the new default sink, unless streams keep failing before delivering anything.
    self->lostStreamError = lost;
    if (++self->consecutiveStreamFailures > kMaxConsecutiveStreamFailures) {
        self->reportFailure(PulseError(lost));
    } else {
        self->followDefaultSink();
    }
}

void SystemAudioCapture::Impl::streamReadable(pa_stream* s, std::size_t, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    const std::size_t frameBytes = pa_frame_size(&kRecordSpec);
    for (;;) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(s, &data, &bytes) < 0) {
            if (!self->isStopped) {
                self->lastConversionFailureReason =
                    std::string("pa_stream_peek failed: ") +
                    pa_strerror(pa_context_errno(self->connection->context()));
            }
            return;
        }
        if (bytes == 0) {
            return;
        }
        if (!self->isStopped) {
            if (data == nullptr) {
                // A hole: what was gathered so far ends here, and the stream clock moves on, so
                // the next buffer shows the hole as a content gap.
                self->flushFragment();
            } else {
                self->gatherChunk(s, static_cast<const float*>(data), bytes / frameBytes);
            }
        }
        self->streamFramesRead += static_cast<std::int64_t>(bytes / frameBytes);
        pa_stream_drop(s);
    }
}

void SystemAudioCapture::Impl::gatherChunk(pa_stream* s, const float* samples, std::size_t frames) {
    if (frames == 0) {
        sampleBuffersReceived.fetch_add(1, std::memory_order_relaxed);
        lastConversionFailureReason = "numSamples == 0";
        return;
    }
    std::int64_t position = streamBaseFrames + streamPositionFrames(s);
    if (fragmentFrames > 0 &&
        position != fragmentStartFrames + static_cast<std::int64_t>(fragmentFrames)) {
        flushFragment();
    }
    while (frames > 0) {
        if (fragmentFrames == 0) {
            fragmentStartFrames = position;
        }
        const std::size_t take = std::min(frames, kFragmentFrames - fragmentFrames);
        std::copy_n(samples, take * kChannelCount,
                    fragment.begin() + static_cast<std::ptrdiff_t>(fragmentFrames * kChannelCount));
        fragmentFrames += take;
        samples += take * kChannelCount;
        frames -= take;
        position += static_cast<std::int64_t>(take);
        if (fragmentFrames == kFragmentFrames) {
            flushFragment();
        }
    }
}

void SystemAudioCapture::Impl::flushFragment() {
    if (fragmentFrames == 0) {
        return;
    }
    handleSampleBuffer(fragmentStartFrames, fragment.data(), fragmentFrames);
    fragmentFrames = 0;
}

std::int64_t SystemAudioCapture::Impl::streamPositionFrames(pa_stream* s) const {
    // The read index on the stream's own clock; corrected by the server's timing updates, so
    // audio the server dropped before we read it shows up as a jump.
    const pa_timing_info* info = pa_stream_get_timing_info(s);
    if (info != nullptr && !info->read_index_corrupt && info->read_index >= 0) {
        return info->read_index / static_cast<std::int64_t>(pa_frame_size(&kRecordSpec));
    }
    return streamFramesRead;
}

void SystemAudioCapture::Impl::handleSampleBuffer(std::int64_t startFrames, const float* data,
                                                  std::size_t frames) {
    const long received = sampleBuffersReceived.fetch_add(1, std::memory_order_relaxed) + 1;
    consecutiveStreamFailures = 0;

    timelineEndFrames = startFrames + static_cast<std::int64_t>(frames);
    const auto lines = timing.recordBuffer(static_cast<double>(startFrames) / kSampleRate,
                                           static_cast<double>(frames) / kSampleRate,
                                           SystemAudioTimingDiagnostics::Clock::now(), received,
                                           buffersConvertedOK.load(std::memory_order_relaxed));
    if (lines.gapLine) {
        printLogLine(*lines.gapLine);
    }
    if (lines.driftMessage) {
        printLogLine("[Tessaro] SystemAudioCapture: " + *lines.driftMessage);
        writeSystemAudioJournal(false, *lines.driftMessage);
    }

    if (!loggedFirstFormat) {
        loggedFirstFormat = true;
        const pa_sample_spec* sampleSpec = stream ? pa_stream_get_sample_spec(stream) : nullptr;
        if (sampleSpec != nullptr && pa_sample_spec_valid(sampleSpec)) {
            // The server hands out interleaved frames.
            printLogLine(firstBufferFormatLine(sampleSpec->rate, sampleSpec->channels, true));
            writeSystemAudioJournal(false, firstBufferFormatJournalMessage(
                                               sampleSpec->rate, sampleSpec->channels, true));
            if (owner.onFormatInfo) {
                owner.onFormatInfo(formatInfoFor(*sampleSpec));
            }
        }
    }

    const void* planes[1] = {data};
    const PcmBuffer input{PcmFormat{kSampleRate, kChannelCount, SampleType::float32, true}, frames,
                          planes};
    auto converted = converter ? converter->convert(input) : std::nullopt;
    if (!converted) {
        lastConversionFailureReason = "AudioFormatConverter.convert returned nil";
        return;
    }
    buffersConvertedOK.fetch_add(1, std::memory_order_relaxed);
    splitter.push(*converted, [this](ChannelBuffers&& block) {
        if (owner.onBuffer) {
            owner.onBuffer(std::move(block));
        }
    });
}

SystemAudioCapture::SystemAudioCapture() : impl_(std::make_unique<Impl>(*this)) {}

SystemAudioCapture::~SystemAudioCapture() = default;

int SystemAudioCapture::channelCount() const {
    return kChannelCount;
}

void SystemAudioCapture::start() {
    impl_->start();
}

void SystemAudioCapture::stop() {
    impl_->stop();
}

AudioFormatInfo SystemAudioCapture::deliveredFormatInfo() {
    return AudioFormatInfo{kSampleRate, 32, true, kChannelCount};
}

}  // namespace orvinta
