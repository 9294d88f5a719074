#include "capture/application_audio_capture.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <exception>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "capture/application_stream_mixer.h"
#include "capture/audio_capture_error.h"
#include "capture/console_log.h"
#include "capture/pulse_connection.h"
#include "measurement/loudness_analyzer.h"

// One application's sound is the sum of its sink inputs. For each one we record a monitor stream
// (pa_stream_set_monitor_stream): the server hands it that input's audio, after the input's own
// volume, before it is mixed with anything else. Connected without a device, the record stream
// goes to the monitor of the sink the input plays to (routing modules leave such streams alone),
// and with PA_STREAM_DONT_MOVE it fails ("Entity killed") when the input ends or moves instead of
// turning into some other recording.
//
// The source subscribes to sink-input events: an input of the application that appears is
// joined, one that goes away leaves, and one whose stream fails while the input still exists (it
// moved to another sink) is joined again where it now plays. The server renders the inputs of
// one sink in lockstep and hands each monitor stream the same frames per cycle, so the mixer,
// which waits until every running stream has a block, keeps them sample-aligned.
//
// Threads: start() and stop() take the mainloop lock; every stream and subscription callback, the
// mixer and the callbacks to the owner run on the connection's mainloop thread with that lock
// held. stop() sets `isStopped` under the lock, so no callback runs once it has returned. The
// connection's thread is joined when the source is destroyed or started again, so neither may
// happen from inside one of the source's own callbacks.

namespace orvinta {

namespace {

using namespace std::chrono_literals;

constexpr int kChannelCount = 2;
// Streams of one input that fail one after another without delivering before we stop following
// that input.
constexpr int kMaxConsecutiveStreamFailures = 3;

constexpr pa_sample_spec kRecordSpec{
    PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(LoudnessAnalyzer::sampleRate), kChannelCount};

// application.name, else the process binary; empty for a stream that names neither.
std::string applicationIdOf(const pa_proplist* properties) {
    for (const char* key : {PA_PROP_APPLICATION_NAME, PA_PROP_APPLICATION_PROCESS_BINARY}) {
        const char* value = properties != nullptr ? pa_proplist_gets(properties, key) : nullptr;
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return {};
}

// With the lock held: waits for an operation whose callback signals the mainloop.
bool finishOperation(PulseConnection& connection, pa_operation* operation,
                     std::chrono::milliseconds timeout) {
    if (operation == nullptr) {
        return false;
    }
    const bool finished = connection.waitUntil(
        [operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, timeout);
    if (!finished) {
        // The callback writes to the caller's stack: it must never run after we return.
        pa_operation_cancel(operation);
    }
    pa_operation_unref(operation);
    return finished;
}

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

struct ApplicationAudioCapture::Impl {
    // The record stream of one sink input.
    struct Feed {
        Impl* impl = nullptr;
        ApplicationStreamMixer::Key key = 0;
        std::uint32_t sinkInput = PA_INVALID_INDEX;
        std::uint32_t sink = PA_INVALID_INDEX;
        pa_stream* stream = nullptr;
        bool delivered = false;
    };

    Impl(ApplicationAudioCapture& owner, std::string applicationId)
        : owner(owner),
          applicationId(std::move(applicationId)),
          mixer(kChannelCount, [this](ChannelBuffers&& block) {
              if (this->owner.onBuffer) {
                  this->owner.onBuffer(std::move(block));
              }
          }) {}
    ~Impl() { teardown(); }

    void start();
    void stop();
    void stopLocked();
    void teardown();

    // All below run with the mainloop lock held.
    void consider(const pa_sink_input_info& info);
    void join(std::uint32_t sinkInput, std::uint32_t sink);
    void leave(const Feed& feed);
    void lookUp(std::uint32_t sinkInput);
    void reportFailure(const PulseError& error);
    Feed* feedOf(std::uint32_t sinkInput);
    bool everyFeedSettled() const;
    void receive(Feed& feed, const float* samples, std::size_t frames);

    static void sinkInputListed(pa_context*, const pa_sink_input_info* info, int eol,
                                void* userdata);
    static void sinkInputFound(pa_context*, const pa_sink_input_info* info, int eol,
                               void* userdata);
    static void serverChanged(pa_context*, pa_subscription_event_type_t type, std::uint32_t index,
                              void* userdata);
    static void streamStateChanged(pa_stream* s, void* userdata);
    static void streamReadable(pa_stream* s, std::size_t, void* userdata);

    ApplicationAudioCapture& owner;
    const std::string applicationId;
    std::unique_ptr<PulseConnection> connection;

    // Guarded by the mainloop lock.
    bool isStopped = true;
    bool failureReported = false;
    bool initialListingDone = false;
    int lastStreamError = PA_OK;
    // Per sink input, its streams that failed one after another without delivering.
    std::vector<std::pair<std::uint32_t, int>> streamFailures;
    ApplicationStreamMixer::Key nextKey = 1;
    std::vector<std::unique_ptr<Feed>> feeds;
    ApplicationStreamMixer mixer;
};

void ApplicationAudioCapture::Impl::start() {
    teardown();
    try {
        connection = std::make_unique<PulseConnection>(kPulseClientName, kPulseConnectTimeout);
    } catch (const PulseError& error) {
        printLogLine("[Tessaro] ApplicationAudioCapture: startCapture failed: " +
                     error.serverText());
        throw;
    }

    PulseConnection::Lock lock(*connection);
    mixer.clear();
    isStopped = false;
    failureReported = false;
    initialListingDone = false;
    lastStreamError = PA_OK;
    streamFailures.clear();
    connection->onConnectionLost = [this](int code) { reportFailure(PulseError(code)); };

    // Subscribe before listing, so that no input that starts in between is missed; joining twice
    // is harmless (consider() skips inputs already recorded).
    pa_context_set_subscribe_callback(connection->context(), &Impl::serverChanged, this);
    if (pa_operation* operation = pa_context_subscribe(
            connection->context(), PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr)) {
        pa_operation_unref(operation);
    }
    pa_operation* listing =
        pa_context_get_sink_input_info_list(connection->context(), &Impl::sinkInputListed, this);
    const bool listed = finishOperation(*connection, listing, kPulseQueryTimeout);
    const bool settled =
        listed && connection->waitUntil([this] { return everyFeedSettled(); }, kPulseStreamTimeout);
    const auto ready = std::find_if(feeds.begin(), feeds.end(), [](const auto& feed) {
        return pa_stream_get_state(feed->stream) == PA_STREAM_READY;
    });
    if (!settled || ready == feeds.end()) {
        const int error = !listed || !settled ? PA_ERR_TIMEOUT : lastStreamError;
        stopLocked();
        // An input that ended while we connected to it fails its stream with "No such entity"
        // or "Entity killed": the application simply is not playing.
        if (error == PA_OK || error == PA_ERR_NOENTITY || error == PA_ERR_KILLED) {
            printLogLine("[Tessaro] ApplicationAudioCapture: " + applicationId +
                         " has no stream playing");
            throw AudioCaptureError::noAudioDelivered(
                applicationId + " is not playing any sound right now. Start playback in " +
                applicationId + ", then press Start again.");
        }
        printLogLine(std::string("[Tessaro] ApplicationAudioCapture: startCapture failed: ") +
                     pa_strerror(error));
        throw PulseError(error);
    }
    // Every stream records in the one format asked for; the server converts what the
    // application plays.
    const pa_sample_spec* sampleSpec = pa_stream_get_sample_spec((*ready)->stream);
    if (owner.onFormatInfo && sampleSpec != nullptr && pa_sample_spec_valid(sampleSpec)) {
        owner.onFormatInfo(formatInfoFor(*sampleSpec));
    }
    printLogLine("[Tessaro] ApplicationAudioCapture: metering " + applicationId + " (" +
                 std::to_string(feeds.size()) + " stream" + (feeds.size() == 1 ? "" : "s") + ")");
}

void ApplicationAudioCapture::Impl::stop() {
    if (!connection) {
        return;
    }
    // Only requests go out: the server finishes the disconnects in the background, and the
    // connection itself closes with the source or the next start.
    PulseConnection::Lock lock(*connection);
    stopLocked();
}

void ApplicationAudioCapture::Impl::stopLocked() {
    isStopped = true;
    // Dropped first, so that no stream leaving below mixes a last block on this thread.
    mixer.clear();
    while (!feeds.empty()) {
        leave(*feeds.back());
    }
    connection->onConnectionLost = nullptr;
    pa_context_set_subscribe_callback(connection->context(), nullptr, nullptr);
}

void ApplicationAudioCapture::Impl::teardown() {
    stop();
    connection.reset();
}

bool ApplicationAudioCapture::Impl::everyFeedSettled() const {
    return initialListingDone && std::all_of(feeds.begin(), feeds.end(), [](const auto& feed) {
               return pa_stream_get_state(feed->stream) != PA_STREAM_CREATING;
           });
}

ApplicationAudioCapture::Impl::Feed* ApplicationAudioCapture::Impl::feedOf(
    std::uint32_t sinkInput) {
    const auto it = std::find_if(feeds.begin(), feeds.end(), [sinkInput](const auto& feed) {
        return feed->sinkInput == sinkInput;
    });
    return it == feeds.end() ? nullptr : it->get();
}

void ApplicationAudioCapture::Impl::consider(const pa_sink_input_info& info) {
    if (isStopped || failureReported || applicationIdOf(info.proplist) != applicationId) {
        return;
    }
    if (const Feed* feed = feedOf(info.index)) {
        if (feed->sink == info.sink) {
            return;
        }
        // Moved: the server kills monitor streams of a moving input; record it on its new sink.
        leave(*feed);
    }
    join(info.index, info.sink);
}

void ApplicationAudioCapture::Impl::join(std::uint32_t sinkInput, std::uint32_t sink) {
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    const std::string streamName = applicationId + " (stream " + std::to_string(sinkInput) + ")";
    auto feed = std::make_unique<Feed>();
    feed->impl = this;
    feed->key = nextKey++;
    feed->sinkInput = sinkInput;
    feed->sink = sink;
    int error = PA_OK;
    feed->stream = connection->connectRecordStream(
        {}, streamName.c_str(), kRecordSpec, &map, PA_STREAM_NOFLAGS, &Impl::streamStateChanged,
        &Impl::streamReadable, feed.get(), error, sinkInput);
    if (feed->stream == nullptr) {
        lastStreamError = error;
        return;
    }
    feeds.push_back(std::move(feed));
    printLogLine("[Tessaro] ApplicationAudioCapture: recording stream " +
                 std::to_string(sinkInput) + " of " + applicationId + " on sink " +
                 std::to_string(sink));
}

void ApplicationAudioCapture::Impl::leave(const Feed& feed) {
    pa_stream_set_state_callback(feed.stream, nullptr, nullptr);
    pa_stream_set_read_callback(feed.stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(feed.stream))) {
        pa_stream_disconnect(feed.stream);
    }
    pa_stream_unref(feed.stream);
    // What the stream queued is still mixed, unless the whole run ends.
    mixer.end(feed.key);
    std::erase_if(feeds, [&feed](const auto& f) { return f.get() == &feed; });
}

void ApplicationAudioCapture::Impl::lookUp(std::uint32_t sinkInput) {
    if (pa_operation* operation = pa_context_get_sink_input_info(connection->context(), sinkInput,
                                                                 &Impl::sinkInputFound, this)) {
        pa_operation_unref(operation);
    }
}

void ApplicationAudioCapture::Impl::reportFailure(const PulseError& error) {
    if (isStopped || failureReported) {
        return;
    }
    failureReported = true;
    printLogLine(std::string("[Tessaro] ApplicationAudioCapture: stream stopped with error: ") +
                 error.what());
    if (owner.onError) {
        owner.onError(std::make_exception_ptr(error));
    }
}

void ApplicationAudioCapture::Impl::sinkInputListed(pa_context*, const pa_sink_input_info* info,
                                                    int eol, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    if (eol != 0) {
        self->initialListingDone = true;
        self->connection->signal();
    } else if (info != nullptr) {
        self->consider(*info);
    }
}

void ApplicationAudioCapture::Impl::sinkInputFound(pa_context*, const pa_sink_input_info* info,
                                                   int eol, void* userdata) {
    // eol < 0: the input no longer exists, which a remove event reports on its own.
    if (eol == 0 && info != nullptr) {
        static_cast<Impl*>(userdata)->consider(*info);
    }
}

void ApplicationAudioCapture::Impl::serverChanged(pa_context*, pa_subscription_event_type_t type,
                                                  std::uint32_t index, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    if (self->isStopped ||
        (type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
        return;
    }
    if ((type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE) {
        if (const Feed* feed = self->feedOf(index)) {
            printLogLine("[Tessaro] ApplicationAudioCapture: stream " + std::to_string(index) +
                         " of " + self->applicationId + " ended");
            self->leave(*feed);
        }
        return;
    }
    // A new input, or one that changed (its sink, or its name): see whether it is ours.
    self->lookUp(index);
}

void ApplicationAudioCapture::Impl::streamStateChanged(pa_stream* s, void* userdata) {
    auto* feed = static_cast<Feed*>(userdata);
    Impl* self = feed->impl;
    self->connection->signal();
    if (pa_stream_get_state(s) != PA_STREAM_FAILED || self->isStopped) {
        return;
    }
    // A dying server fails the context too; that failure is reported on its own.
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(self->connection->context()))) {
        return;
    }
    self->lastStreamError = pa_context_errno(self->connection->context());
    const std::uint32_t sinkInput = feed->sinkInput;
    printLogLine("[Tessaro] ApplicationAudioCapture: stream " + std::to_string(sinkInput) + " of " +
                 self->applicationId + " stopped (" + pa_strerror(self->lastStreamError) + ")");
    self->leave(*feed);
    auto failures =
        std::find_if(self->streamFailures.begin(), self->streamFailures.end(),
                     [sinkInput](const auto& entry) { return entry.first == sinkInput; });
    if (failures == self->streamFailures.end()) {
        self->streamFailures.emplace_back(sinkInput, 0);
        failures = std::prev(self->streamFailures.end());
    }
    // The input ended (its remove event follows) or moved to another sink: ask which.
    if (++failures->second <= kMaxConsecutiveStreamFailures) {
        self->lookUp(sinkInput);
    } else {
        printLogLine("[Tessaro] ApplicationAudioCapture: giving up on stream " +
                     std::to_string(sinkInput) + ": " + pa_strerror(self->lastStreamError));
    }
}

void ApplicationAudioCapture::Impl::streamReadable(pa_stream* s, std::size_t, void* userdata) {
    auto* feed = static_cast<Feed*>(userdata);
    Impl* self = feed->impl;
    const std::size_t frameBytes = pa_frame_size(&kRecordSpec);
    for (;;) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0) {
            return;
        }
        if (!self->isStopped) {
            // A hole (no data) is audio the server lost: silence keeps the streams aligned.
            self->receive(*feed, static_cast<const float*>(data), bytes / frameBytes);
        }
        pa_stream_drop(s);
    }
}

void ApplicationAudioCapture::Impl::receive(Feed& feed, const float* samples, std::size_t frames) {
    if (!feed.delivered) {
        feed.delivered = true;
        std::erase_if(streamFailures,
                      [&feed](const auto& entry) { return entry.first == feed.sinkInput; });
    }
    // A stream joins the mix with its first audio, so one that never delivers (an input paused on
    // a suspended sink) never holds the others back.
    mixer.add(feed.key);
    mixer.push(feed.key, samples, frames);
}

ApplicationAudioCapture::ApplicationAudioCapture(std::string applicationId)
    : impl_(std::make_unique<Impl>(*this, std::move(applicationId))) {}

ApplicationAudioCapture::~ApplicationAudioCapture() = default;

std::vector<PlayingApplication> ApplicationAudioCapture::playingApplications() {
    std::unique_ptr<PulseConnection> connection;
    try {
        connection = std::make_unique<PulseConnection>(kPulseClientName, kPulseConnectTimeout);
    } catch (const PulseError&) {
        return {};
    }
    struct Listing {
        PulseConnection* connection = nullptr;
        std::vector<PlayingApplication> applications;
    };
    Listing listing{connection.get(), {}};
    {
        PulseConnection::Lock lock(*connection);
        pa_operation* operation = pa_context_get_sink_input_info_list(
            connection->context(),
            [](pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
                auto* l = static_cast<Listing*>(userdata);
                if (eol != 0 || info == nullptr) {
                    l->connection->signal();
                    return;
                }
                std::string id = applicationIdOf(info->proplist);
                if (!id.empty()) {
                    l->applications.push_back({id, id});
                }
            },
            &listing);
        if (!finishOperation(*connection, operation, kPulseQueryTimeout)) {
            return {};
        }
    }
    auto& applications = listing.applications;
    std::sort(applications.begin(), applications.end(),
              [](const PlayingApplication& a, const PlayingApplication& b) {
                  const std::string left = lowercase(a.displayName);
                  const std::string right = lowercase(b.displayName);
                  return left != right ? left < right : a.id < b.id;
              });
    applications.erase(std::unique(applications.begin(), applications.end(),
                                   [](const auto& a, const auto& b) { return a.id == b.id; }),
                       applications.end());
    return applications;
}

const std::string& ApplicationAudioCapture::applicationId() const {
    return impl_->applicationId;
}

int ApplicationAudioCapture::channelCount() const {
    return kChannelCount;
}

void ApplicationAudioCapture::start() {
    impl_->start();
}

void ApplicationAudioCapture::stop() {
    impl_->stop();
}

}  // namespace orvinta
