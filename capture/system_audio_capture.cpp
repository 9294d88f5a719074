#include "capture/system_audio_capture.h"

#include <pulse/rtclock.h>

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
// Threads: start() and stop() take the mainloop lock; every stream callback, the watchdog timer,
// the diagnostics, the converter and the callbacks to the owner run on the connection's mainloop
// thread with that lock held. stop() sets `isStopped` under the lock, so no callback runs once it
// has returned.
// The connection's thread is joined when the source is destroyed or started again, so neither may
// happen from inside one of the source's own callbacks.

namespace orvinta {

namespace {

using namespace std::chrono_literals;

constexpr auto kConnectTimeout = 3s;
constexpr auto kQueryTimeout = 2s;
constexpr auto kStreamTimeout = 5s;
constexpr pa_usec_t kWatchdogUsec = 3'000'000;
constexpr pa_usec_t kFragmentUsec = 20'000;
constexpr double kSampleRate = 48000.0;
constexpr int kChannelCount = 2;
constexpr std::size_t kFragmentFrames = 960;
// Streams that fail one after another without delivering anything before we give up following.
constexpr int kMaxConsecutiveStreamFailures = 3;
constexpr const char* kClientName = "Orvinta";

constexpr pa_sample_spec kRecordSpec{PA_SAMPLE_FLOAT32LE, 48000, 2};

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
    void detachStream();
    void armWatchdog();
    void disarmWatchdog();
    void followDefaultSink();
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
    static void serverChanged(pa_context*, pa_subscription_event_type_t type, std::uint32_t,
                              void* userdata);
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

    try {
        connection = std::make_unique<PulseConnection>(kClientName, kConnectTimeout);
    } catch (const PulseError& error) {
        if (error.code() == PA_ERR_ACCESS) {
            printLogLine(
                "[Tessaro] SystemAudioCapture: SCShareableContent reports permission not granted "
                "(userDeclined)");
            throw AudioCaptureError::permissionDenied();
        }
        printLogLine("[Tessaro] SystemAudioCapture: SCShareableContent fetch failed: " +
                     error.serverText());
        throw AudioCaptureError::streamSetupFailed(error.serverText());
    }

    PulseConnection::Lock lock(*connection);
    const auto defaults = connection->serverDefaults(kQueryTimeout);
    if (!defaults) {
        const std::string text = pa_strerror(PA_ERR_TIMEOUT);
        printLogLine("[Tessaro] SystemAudioCapture: SCShareableContent fetch failed: " + text);
        throw AudioCaptureError::streamSetupFailed(text);
    }
    std::optional<PulseSinkDescription> sink;
    if (!defaults->defaultSinkName.empty()) {
        sink = connection->sinkByName(defaults->defaultSinkName, kQueryTimeout);
    }
    if (!sink || sink->monitorSourceName.empty()) {
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
    pa_stream* started = connectStream(sink->monitorSourceName, error);
    if (started != nullptr) {
        stream = started;
        error = connection->waitForStreamReady(started, kStreamTimeout);
        if (error != PA_OK) {
            detachStream();
        }
    }
    if (error != PA_OK) {
        const std::string text = pa_strerror(error);
        printStartCaptureFailed(text);
        throw AudioCaptureError::streamSetupFailed(text);
    }
    targetSinkName = sink->name;

    connection->onConnectionLost = [this](int code) { reportFailure(PulseError(code)); };
    pa_context_set_subscribe_callback(connection->context(), &Impl::serverChanged, this);
    if (pa_operation* operation = pa_context_subscribe(
            connection->context(), PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr)) {
        pa_operation_unref(operation);
    }

    isStopped = false;
    printLogLine(
        "[Tessaro] SystemAudioCapture: SCStream capture started, waiting for audio buffers...");
    writeSystemAudioJournal(false, "SCStream capture started");
    ++watchdogGeneration;
    armWatchdog();
}

void SystemAudioCapture::Impl::stop() {
    if (!connection) {
        return;
    }
    // Everything here only sends requests: the server finishes the disconnect in the
    // background, and the connection itself closes with the source or the next start.
    PulseConnection::Lock lock(*connection);
    isStopped = true;
    detachStream();
    ++watchdogGeneration;
    disarmWatchdog();
    connection->onConnectionLost = nullptr;
    pa_context_set_subscribe_callback(connection->context(), nullptr, nullptr);
}

void SystemAudioCapture::Impl::teardown() {
    stop();
    connection.reset();
    converter.reset();
}

pa_stream* SystemAudioCapture::Impl::connectStream(const std::string& monitorName, int& error) {
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    pa_stream* s = pa_stream_new(connection->context(), "System audio", &kRecordSpec, &map);
    if (s == nullptr) {
        error = pa_context_errno(connection->context());
        return nullptr;
    }
    pa_stream_set_state_callback(s, &Impl::streamStateChanged, this);
    pa_stream_set_read_callback(s, &Impl::streamReadable, this);
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentUsec, &kRecordSpec));
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY |
                                       PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_record(s, monitorName.c_str(), &attributes, flags) < 0) {
        error = pa_context_errno(connection->context());
        pa_stream_set_state_callback(s, nullptr, nullptr);
        pa_stream_set_read_callback(s, nullptr, nullptr);
        pa_stream_unref(s);
        return nullptr;
    }
    return s;
}

void SystemAudioCapture::Impl::detachStream() {
    if (stream == nullptr) {
        return;
    }
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        pa_stream_disconnect(stream);
    }
    pa_stream_unref(stream);
    stream = nullptr;
}

void SystemAudioCapture::Impl::armWatchdog() {
    disarmWatchdog();
    armedWatchdogGeneration = watchdogGeneration;
    watchdogEvent = pa_context_rttime_new(connection->context(), pa_rtclock_now() + kWatchdogUsec,
                                          &Impl::watchdogFired, this);
}

void SystemAudioCapture::Impl::disarmWatchdog() {
    if (watchdogEvent != nullptr) {
        pa_threaded_mainloop_get_api(connection->mainloop())->time_free(watchdogEvent);
        watchdogEvent = nullptr;
    }
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
    const WatchdogVerdict verdict =
        watchdogVerdict(self->sampleBuffersReceived.load(std::memory_order_relaxed),
                        self->buffersConvertedOK.load(std::memory_order_relaxed),
                        self->lastConversionFailureReason);
    printLogLine(verdict.line);
    writeSystemAudioJournal(verdict.isError, verdict.journalMessage);
    if (verdict.errorText && self->owner.onError) {
        self->owner.onError(
            std::make_exception_ptr(AudioCaptureError::noAudioDelivered(*verdict.errorText)));
    }
}

void SystemAudioCapture::Impl::serverChanged(pa_context*, pa_subscription_event_type_t type,
                                             std::uint32_t, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER && !self->isStopped) {
        self->followDefaultSink();
    }
}

void SystemAudioCapture::Impl::followDefaultSink() {
    // Two steps, both answered on the mainloop thread: the server's default sink, then its
    // monitor. Pending operations die with the context, so `this` is always valid in them.
    pa_operation* operation = pa_context_get_server_info(
        connection->context(),
        [](pa_context* context, const pa_server_info* info, void* userdata) {
            auto* self = static_cast<Impl*>(userdata);
            if (self->isStopped || self->failureReported) {
                return;
            }
            const std::string sinkName =
                info != nullptr && info->default_sink_name ? info->default_sink_name : "";
            if (sinkName.empty()) {
                if (self->stream == nullptr) {
                    self->reportFailure(PulseError(
                        self->lostStreamError,
                        "The output device being recorded went away and no other output device "
                        "is available (sound server: " +
                            std::string(pa_strerror(self->lostStreamError)) + ")"));
                }
                return;
            }
            if (self->stream != nullptr && sinkName == self->targetSinkName) {
                return;
            }
            pa_operation* lookup = pa_context_get_sink_info_by_name(
                context, sinkName.c_str(),
                [](pa_context*, const pa_sink_info* sink, int eol, void* userdata) {
                    auto* self = static_cast<Impl*>(userdata);
                    if (self->isStopped || self->failureReported || eol > 0) {
                        return;
                    }
                    if (eol < 0 || sink == nullptr || sink->monitor_source_name == nullptr) {
                        if (self->stream == nullptr) {
                            self->reportFailure(PulseError(
                                self->lostStreamError,
                                "The output device being recorded went away and no other output "
                                "device is available (sound server: " +
                                    std::string(pa_strerror(self->lostStreamError)) + ")"));
                        }
                        return;
                    }
                    if (self->stream != nullptr && self->targetSinkName == sink->name) {
                        return;
                    }
                    self->switchTo(sink->name, sink->monitor_source_name);
                },
                self);
            if (lookup != nullptr) {
                pa_operation_unref(lookup);
            }
        },
        this);
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
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
    detachStream();
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
    disarmWatchdog();
    printLogLine(std::string("[Tessaro] SystemAudioCapture: SCStream stopped with error: ") +
                 error.what());
    writeSystemAudioJournal(true, std::string("SCStream stopped with error: ") + error.what());
    if (owner.onError) {
        owner.onError(std::make_exception_ptr(error));
    }
}

void SystemAudioCapture::Impl::streamStateChanged(pa_stream* s, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    self->connection->signal();
    if (s != self->stream || pa_stream_get_state(s) != PA_STREAM_FAILED || self->isStopped) {
        return;
    }
    // A dying server fails the context too; that failure is reported on its own.
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(self->connection->context()))) {
        return;
    }
    // The recorded sink vanished ("Entity killed"): follow the new default sink, if any.
    self->lostStreamError = pa_context_errno(self->connection->context());
    self->detachStream();
    if (++self->consecutiveStreamFailures > kMaxConsecutiveStreamFailures) {
        self->reportFailure(PulseError(self->lostStreamError));
        return;
    }
    self->followDefaultSink();
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

}  // namespace orvinta
