#include "capture/microphone_capture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <optional>
#include <string>

#include "capture/audio_capture_error.h"
#include "capture/audio_format_converter.h"
#include "capture/console_log.h"
#include "capture/fixed_block_splitter.h"
#include "capture/pulse_connection.h"

// The default input device is the sound server's default source. The server is asked for the
// source's own sample spec, so it records without converting; our converter turns every chunk
// into 48 000 Hz float and the splitter cuts the result into 960-frame blocks.
//
// Threads: start() and stop() run on their callers' threads and take the mainloop lock; the
// stream callbacks, the converter, the splitter and onBuffer/onError run on the connection's
// mainloop thread with that lock held. Because stop() takes the lock and clears `delivering`,
// no callback runs once stop() has returned.
// The connection's thread is joined when the source is destroyed or started again, so neither may
// happen from inside one of the source's own callbacks.

namespace orvinta {

namespace {

using namespace std::chrono_literals;

constexpr auto kConnectTimeout = 3s;
constexpr auto kQueryTimeout = 2s;
constexpr auto kStreamTimeout = 5s;
constexpr auto kFormatQueryTimeout = 1s;
constexpr pa_usec_t kFragmentUsec = 20'000;
constexpr const char* kClientName = "Orvinta";

// The default source, when it is a real input device: none when the server names no default
// source, the source cannot be read, or it is the monitor of an output device (PulseAudio falls
// back to a monitor when the machine has no input; metering that as a microphone would show
// system audio).
std::optional<PulseSourceDescription> defaultInputDevice(PulseConnection& connection,
                                                         std::chrono::milliseconds timeout,
                                                         bool explain) {
    const auto say = [explain](const std::string& line) {
        if (explain) {
            printLogLine(line);
        }
    };
    const auto defaults = connection.serverDefaults(timeout);
    if (!defaults || defaults->defaultSourceName.empty()) {
        say("[Tessaro] MicrophoneCapture: the sound server names no default input device");
        return std::nullopt;
    }
    auto source = connection.sourceByName(defaults->defaultSourceName, timeout);
    if (!source) {
        say("[Tessaro] MicrophoneCapture: default input device " + defaults->defaultSourceName +
            " cannot be read");
        return std::nullopt;
    }
    if (source->isMonitor) {
        say("[Tessaro] MicrophoneCapture: default input device " + source->name +
            " is the monitor of an output device, not a microphone");
        return std::nullopt;
    }
    if (source->sampleSpec.channels == 0 || source->sampleSpec.rate == 0) {
        return std::nullopt;
    }
    return source;
}

}  // namespace

struct MicrophoneCapture::Impl {
    explicit Impl(MicrophoneCapture& owner) : owner(owner) {}
    ~Impl() { teardown(); }

    void start();
    void stop();
    // Stops and closes the connection; never on the mainloop thread (it joins that thread).
    void teardown();

    static void streamStateChanged(pa_stream* stream, void* userdata);
    static void streamReadable(pa_stream* stream, std::size_t bytes, void* userdata);
    void deliverChunk(const void* data, std::size_t bytes);
    void reportFailure(int code);
    void detachStream();

    MicrophoneCapture& owner;
    // Read by any thread; written by start() before delivery begins.
    std::atomic<int> channelCount{2};

    std::unique_ptr<PulseConnection> connection;
    // Guarded by the mainloop lock.
    pa_stream* stream = nullptr;
    bool delivering = false;
    bool failureReported = false;

    // Used on the mainloop thread only (created by start() before the stream connects).
    std::unique_ptr<AudioFormatConverter> converter;
    std::optional<FixedBlockSplitter> splitter;
    PcmFormat inputFormat;
    std::size_t frameBytes = 0;
};

void MicrophoneCapture::Impl::start() {
    teardown();

    // Linux has no microphone-permission service; whether the server accepts us stands in for it.
    try {
        connection = std::make_unique<PulseConnection>(kClientName, kConnectTimeout);
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
        throw AudioCaptureError::noInputDeviceAvailable();
    }
    printLogLine("[Tessaro] MicrophoneCapture: authorizationStatus = authorized");

    std::optional<PulseSourceDescription> device;
    {
        PulseConnection::Lock lock(*connection);
        device = defaultInputDevice(*connection, kQueryTimeout, true);
    }
    if (!device) {
        throw AudioCaptureError::noInputDeviceAvailable();
    }

    const pa_sample_spec deviceSpec = device->sampleSpec;
    channelCount.store(deviceSpec.channels, std::memory_order_relaxed);
    converter = std::make_unique<AudioFormatConverter>(std::max<int>(deviceSpec.channels, 1));
    splitter.emplace(converter->outputChannelCount());

    if (owner.onFormatInfo) {
        owner.onFormatInfo(formatInfoFor(deviceSpec));
    }

    // Record in the device's own format; only formats the converter cannot read (big-endian,
    // A-law, mu-law) are converted to float by the server.
    pa_sample_spec recordSpec = deviceSpec;
    std::optional<SampleType> sampleType = sampleTypeFor(deviceSpec.format);
    if (!sampleType) {
        recordSpec.format = PA_SAMPLE_FLOAT32LE;
        sampleType = SampleType::float32;
    }
    inputFormat =
        PcmFormat{static_cast<double>(recordSpec.rate), recordSpec.channels, *sampleType, true};
    frameBytes = pa_frame_size(&recordSpec);

    PulseConnection::Lock lock(*connection);
    failureReported = false;
    connection->onConnectionLost = [this](int code) { reportFailure(code); };
    stream =
        pa_stream_new(connection->context(), "Microphone", &recordSpec,
                      pa_channel_map_valid(&device->channelMap) ? &device->channelMap : nullptr);
    if (stream == nullptr) {
        throw PulseError(pa_context_errno(connection->context()));
    }
    pa_stream_set_state_callback(stream, &Impl::streamStateChanged, this);
    pa_stream_set_read_callback(stream, &Impl::streamReadable, this);

    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentUsec, &recordSpec));
    // DONT_MOVE: when the device goes away the stream fails (and we say so) instead of being
    // moved silently to whatever the server picks next.
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY);
    int error = PA_OK;
    if (pa_stream_connect_record(stream, device->name.c_str(), &attributes, flags) < 0) {
        error = pa_context_errno(connection->context());
    } else {
        error = connection->waitForStreamReady(stream, kStreamTimeout);
    }
    if (error != PA_OK) {
        detachStream();
        connection->onConnectionLost = nullptr;
        throw PulseError(error);
    }
    delivering = true;
}

void MicrophoneCapture::Impl::stop() {
    if (!connection) {
        return;
    }
    PulseConnection::Lock lock(*connection);
    delivering = false;
    connection->onConnectionLost = nullptr;
    detachStream();
}

void MicrophoneCapture::Impl::teardown() {
    stop();
    connection.reset();
    converter.reset();
    splitter.reset();
}

void MicrophoneCapture::Impl::detachStream() {
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

void MicrophoneCapture::Impl::streamStateChanged(pa_stream* stream, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    self->connection->signal();
    if (pa_stream_get_state(stream) == PA_STREAM_FAILED && self->delivering) {
        // The device went away (unplugged, module unloaded) or the server failed.
        self->reportFailure(pa_context_errno(self->connection->context()));
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
    const void* planes[1] = {data};
    const PcmBuffer input{inputFormat, frames, planes};
    // A chunk that cannot be converted is dropped; the engine's stall detector covers the gap.
    auto converted = converter->convert(input);
    if (!converted) {
        return;
    }
    splitter->push(*converted, [this](ChannelBuffers&& block) {
        if (owner.onBuffer) {
            owner.onBuffer(std::move(block));
        }
    });
}

void MicrophoneCapture::Impl::reportFailure(int code) {
    if (failureReported || !delivering) {
        return;
    }
    failureReported = true;
    if (code == PA_OK) {
        code = PA_ERR_CONNECTIONTERMINATED;
    }
    const PulseError error(code);
    printLogLine(std::string("[Tessaro] MicrophoneCapture: capture stopped with error: ") +
                 error.what());
    if (owner.onError) {
        owner.onError(std::make_exception_ptr(error));
    }
}

MicrophoneCapture::MicrophoneCapture() : impl_(std::make_unique<Impl>(*this)) {}

MicrophoneCapture::~MicrophoneCapture() = default;

int MicrophoneCapture::channelCount() const {
    return impl_->channelCount.load(std::memory_order_relaxed);
}

void MicrophoneCapture::start() {
    impl_->start();
}

void MicrophoneCapture::stop() {
    impl_->stop();
}

std::optional<AudioFormatInfo> MicrophoneCapture::currentInputFormatInfo() {
    try {
        PulseConnection connection(kClientName, kFormatQueryTimeout);
        PulseConnection::Lock lock(connection);
        const auto device = defaultInputDevice(connection, kFormatQueryTimeout, false);
        if (!device) {
            return std::nullopt;
        }
        return formatInfoFor(device->sampleSpec);
    } catch (const PulseError&) {
        return std::nullopt;
    }
}

}  // namespace orvinta
