#include "capture/microphone_capture.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <optional>
#include <string>

#include "capture/audio_capture_error.h"
#include "capture/audio_format_converter.h"
#include "capture/console_log.h"
#include "capture/fixed_block_splitter.h"
#include "capture/pulse_connection.h"
#include "capture/system_audio_diagnostics.h"

// The default input device is the sound server's default source. The server is asked for the
// source's own sample spec and channel map, so it records without converting; our converter
// turns every chunk into 48 000 Hz float and the splitter cuts the result into 960-frame blocks.
//
// The source follows the default input: when the default source changes, or the recorded one
// goes away, a new stream is connected to the new default source, in the first stream's sample
// spec and channel map (the server converts), so the converter and the analyzer's layout carry
// over. A default that falls back to a monitor is system audio, never followed.
//
// Threads: start() and stop() run on their callers' threads and take the mainloop lock, which
// the mainloop thread releases while it waits for the server, so neither waits on a hung server
// beyond the connection's own timeouts. The stream callbacks, the watchdog, the converter, the
// splitter and onBuffer/onError run on the connection's mainloop thread with that lock held.
// Because stop() takes the lock and clears `delivering`, no callback runs once stop() has
// returned. The connection's thread is joined when the source is destroyed or started again, so
// neither may happen from inside one of the source's own callbacks.

namespace orvinta {

namespace {

constexpr std::chrono::milliseconds kFormatQueryTimeout{1000};
// Streams that fail one after another without delivering anything before we give up following.
constexpr int kMaxConsecutiveStreamFailures = 3;

// Whether a device can be metered as a microphone: a real input with channels and a rate.
// PulseAudio falls back to a monitor when the machine has no input; metering that as a
// microphone would show system audio.
bool isInputDevice(const std::optional<PulseRecordDevice>& device) {
    return device && !device->isMonitor && device->sampleSpec.channels > 0 &&
           device->sampleSpec.rate > 0;
}

}  // namespace

struct MicrophoneCapture::Impl {
    explicit Impl(MicrophoneCapture& owner) : owner(owner) {}
    ~Impl() { teardown(); }

    void start();
    void stop();
    // Stops and closes the connection; never on the mainloop thread (it joins that thread).
    void teardown();

    // All below run with the mainloop lock held.
    pa_stream* connectStream(const std::string& sourceName, int& error);
    void followDefaultInput();
    void switchTo(const PulseRecordDevice& device);
    void reportFailure(const PulseError& error);

    static void streamStateChanged(pa_stream* stream, void* userdata);
    static void streamReadable(pa_stream* stream, std::size_t bytes, void* userdata);
    static void watchdogFired(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                              void* userdata);
    void deliverChunk(const void* data, std::size_t bytes);

    MicrophoneCapture& owner;
    // Read by any thread; written by start() before delivery begins.
    std::atomic<int> channelCount{2};
    // Written by start() before it returns; read by the engine after it returned.
    std::vector<ChannelPosition> channelPositions;

    std::unique_ptr<PulseConnection> connection;
    // Guarded by the mainloop lock.
    pa_stream* stream = nullptr;
    std::string targetSourceName;
    bool delivering = false;
    bool failureReported = false;
    int lostStreamError = PA_OK;
    int consecutiveStreamFailures = 0;
    pa_time_event* watchdog = nullptr;
    long chunksReceived = 0;
    long chunksConverted = 0;
    std::optional<std::string> lastConversionFailureReason;

    // Used on the mainloop thread only (created by start() before the stream connects).
    std::unique_ptr<AudioFormatConverter> converter;
    std::optional<FixedBlockSplitter> splitter;
    pa_sample_spec recordSpec{};
    pa_channel_map recordMap{};
    PcmFormat inputFormat;
    std::size_t frameBytes = 0;
};

void MicrophoneCapture::Impl::start() {
    teardown();

    // Linux has no microphone-permission service; whether the server accepts us stands in for it.
    try {
        connection = std::make_unique<PulseConnection>(kPulseClientName, kPulseConnectTimeout);
    } catch (const PulseError& error) {
        if (error.code() == PA_ERR_ACCESS) {
            printLogLine("[Tessaro] MicrophoneCapture: authorizationStatus = denied");
            printLogLine(
                "[Tessaro] MicrophoneCapture: status is .denied - macOS will not show a dialog "
                "again for this; it must be cleared via System Settings > Privacy & Security > "
                "Microphone, or `tccutil reset Microphone <bundle id>`.");
            throw AudioCaptureError::permissionDenied();
        }
        printLogLine("[Tessaro] MicrophoneCapture: cannot reach the sound server: " +
                     error.serverText());
        // Its text names the server and how to start it.
        throw;
    }
    printLogLine("[Tessaro] MicrophoneCapture: authorizationStatus = authorized");

    PulseConnection::Lock lock(*connection);
    const auto device = connection->device(PulseDeviceKind::source, {}, kPulseQueryTimeout);
    if (!device) {
        printLogLine("[Tessaro] MicrophoneCapture: the sound server names no default input device");
    } else if (device->isMonitor) {
        printLogLine("[Tessaro] MicrophoneCapture: default input device " + device->name +
                     " is the monitor of an output device, not a microphone");
    }
    if (!isInputDevice(device)) {
        throw AudioCaptureError::noInputDeviceAvailable();
    }

    // Record in the device's own format; only formats the converter cannot read (big-endian,
    // A-law, mu-law) are converted to float by the server.
    recordSpec = device->sampleSpec;
    std::optional<SampleType> sampleType = sampleTypeFor(recordSpec.format);
    if (!sampleType) {
        recordSpec.format = PA_SAMPLE_FLOAT32LE;
        sampleType = SampleType::float32;
    }
    recordMap = device->channelMap;
    inputFormat =
        PcmFormat{static_cast<double>(recordSpec.rate), recordSpec.channels, *sampleType, true};
    frameBytes = pa_frame_size(&recordSpec);
    channelCount.store(recordSpec.channels, std::memory_order_relaxed);
    converter = std::make_unique<AudioFormatConverter>(std::max<int>(recordSpec.channels, 1));
    splitter.emplace(converter->outputChannelCount());
    if (owner.onFormatInfo) {
        owner.onFormatInfo(formatInfoFor(device->sampleSpec));
    }

    int error = PA_OK;
    stream = connectStream(device->name, error);
    if (stream != nullptr) {
        error = connection->waitForStreamReady(stream, kPulseStreamTimeout);
    }
    if (error != PA_OK) {
        PulseConnection::releaseStream(stream);
        throw PulseError(error);
    }
    // The map the server settled on for the stream: one position per delivered channel.
    const pa_channel_map* map = pa_stream_get_channel_map(stream);
    channelPositions = map != nullptr && map->channels == recordSpec.channels
                           ? channelPositionsFor(*map)
                           : std::vector<ChannelPosition>{};
    if (map != nullptr) {
        recordMap = *map;
    }
    targetSourceName = device->name;
    failureReported = false;
    consecutiveStreamFailures = 0;
    chunksReceived = 0;
    chunksConverted = 0;
    lastConversionFailureReason.reset();
    connection->onConnectionLost = [this](int code) { reportFailure(PulseError(code)); };
    connection->onServerChanged = [this] { followDefaultInput(); };
    delivering = true;
    watchdog = connection->startTimer(kPulseStartWatchdogUsec, &Impl::watchdogFired, this);
}

void MicrophoneCapture::Impl::stop() {
    if (!connection) {
        return;
    }
    // Everything here only sends requests: the server finishes the disconnect in the background.
    PulseConnection::Lock lock(*connection);
    delivering = false;
    connection->cancelTimer(watchdog);
    connection->onConnectionLost = nullptr;
    connection->onServerChanged = nullptr;
    PulseConnection::releaseStream(stream);
}

void MicrophoneCapture::Impl::teardown() {
    stop();
    connection.reset();
    converter.reset();
    splitter.reset();
}

pa_stream* MicrophoneCapture::Impl::connectStream(const std::string& sourceName, int& error) {
    return connection->connectRecordStream(sourceName, "Microphone", recordSpec, &recordMap,
                                           PA_STREAM_NOFLAGS, &Impl::streamStateChanged,
                                           &Impl::streamReadable, this, error);
}

void MicrophoneCapture::Impl::followDefaultInput() {
    connection->lookUpDevice(
        PulseDeviceKind::source, {}, [this](std::optional<PulseRecordDevice> device) {
            if (!delivering || failureReported) {
                return;
            }
            if (!isInputDevice(device)) {
                if (stream == nullptr) {
                    reportFailure(PulseError(
                        lostStreamError,
                        "The microphone went away and no other input device is available. "
                        "Connect or enable one in your sound settings, then press Start again."));
                }
                return;
            }
            if (stream == nullptr || device->name != targetSourceName) {
                switchTo(*device);
            }
        });
}

void MicrophoneCapture::Impl::switchTo(const PulseRecordDevice& device) {
    int error = PA_OK;
    pa_stream* next = connectStream(device.name, error);
    if (next == nullptr) {
        reportFailure(PulseError(error));
        return;
    }
    PulseConnection::releaseStream(stream);
    stream = next;
    targetSourceName = device.name;
    printLogLine("[Tessaro] MicrophoneCapture: following the default input to " + device.name);
    if (owner.onFormatInfo) {
        owner.onFormatInfo(formatInfoFor(device.sampleSpec));
    }
}

void MicrophoneCapture::Impl::reportFailure(const PulseError& error) {
    if (failureReported || !delivering) {
        return;
    }
    failureReported = true;
    connection->cancelTimer(watchdog);
    printLogLine(std::string("[Tessaro] MicrophoneCapture: capture stopped with error: ") +
                 error.serverText());
    if (owner.onError) {
        owner.onError(std::make_exception_ptr(error));
    }
}

void MicrophoneCapture::Impl::streamStateChanged(pa_stream* s, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    const int lost = self->connection->streamLostItsDevice(s, self->stream, self->delivering);
    if (lost == PA_OK) {
        return;
    }
    // Follow the new default input, unless streams keep failing before delivering anything.
    self->lostStreamError = lost;
    if (++self->consecutiveStreamFailures > kMaxConsecutiveStreamFailures) {
        self->reportFailure(PulseError(lost));
    } else {
        self->followDefaultInput();
    }
}

void MicrophoneCapture::Impl::watchdogFired(pa_mainloop_api* api, pa_time_event* event,
                                            const struct timeval*, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    api->time_free(event);
    self->watchdog = nullptr;
    if (!self->delivering) {
        return;
    }
    const WatchdogVerdict verdict =
        watchdogVerdict(WatchdogSubject::microphone, self->chunksReceived, self->chunksConverted,
                        self->lastConversionFailureReason);
    printLogLine(verdict.line);
    if (verdict.errorText && self->owner.onError) {
        self->failureReported = true;
        self->owner.onError(
            std::make_exception_ptr(AudioCaptureError::noAudioDelivered(*verdict.errorText)));
    }
}

void MicrophoneCapture::Impl::streamReadable(pa_stream* stream, std::size_t, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    for (;;) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) {
            return;
        }
        // No data with a length is a hole in the stream: nothing to deliver.
        if (data != nullptr && self->delivering) {
            self->deliverChunk(data, bytes);
        }
        pa_stream_drop(stream);
    }
}

void MicrophoneCapture::Impl::deliverChunk(const void* data, std::size_t bytes) {
    const std::size_t frames = frameBytes == 0 ? 0 : bytes / frameBytes;
    if (frames == 0 || !converter) {
        return;
    }
    ++chunksReceived;
    consecutiveStreamFailures = 0;
    const void* planes[1] = {data};
    const PcmBuffer input{inputFormat, frames, planes};
    // A chunk that cannot be converted is dropped; the engine's stall detector covers the gap,
    // and the watchdog names the reason when nothing converts at all.
    auto converted = converter->convert(input);
    if (!converted) {
        lastConversionFailureReason = "AudioFormatConverter.convert returned nil";
        return;
    }
    ++chunksConverted;
    splitter->push(*converted, [this](ChannelBuffers&& block) {
        if (owner.onBuffer) {
            owner.onBuffer(std::move(block));
        }
    });
}

MicrophoneCapture::MicrophoneCapture() : impl_(std::make_unique<Impl>(*this)) {}

MicrophoneCapture::~MicrophoneCapture() = default;

int MicrophoneCapture::channelCount() const {
    return impl_->channelCount.load(std::memory_order_relaxed);
}

std::vector<ChannelPosition> MicrophoneCapture::channelPositions() const {
    return impl_->channelPositions;
}

void MicrophoneCapture::start() {
    impl_->start();
}

void MicrophoneCapture::stop() {
    impl_->stop();
}

std::optional<AudioFormatInfo> MicrophoneCapture::currentInputFormatInfo() {
    try {
        PulseConnection connection(kPulseClientName, kFormatQueryTimeout);
        PulseConnection::Lock lock(connection);
        const auto device = connection.device(PulseDeviceKind::source, {}, kFormatQueryTimeout);
        if (!isInputDevice(device)) {
            return std::nullopt;
        }
        return formatInfoFor(device->sampleSpec);
    } catch (const PulseError&) {
        return std::nullopt;
    }
}

}  // namespace orvinta
