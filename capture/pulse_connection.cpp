#include "capture/pulse_connection.h"

#include <pulse/rtclock.h>

#include <condition_variable>
#include <mutex>

namespace orvinta {

namespace {

struct TimeoutFlag {
    pa_threaded_mainloop* mainloop = nullptr;
    bool expired = false;
};

void timeoutExpired(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* flag = static_cast<TimeoutFlag*>(userdata);
    flag->expired = true;
    pa_threaded_mainloop_signal(flag->mainloop, 0);
}

struct ThreadStarted {
    std::mutex mutex;
    std::condition_variable changed;
    bool running = false;
};

struct DefaultsResult {
    pa_threaded_mainloop* mainloop = nullptr;
    std::optional<PulseServerDefaults> value;
};

}  // namespace

PulseConnection::PulseConnection(const char* clientName, std::chrono::milliseconds timeout) {
    mainloop_ = pa_threaded_mainloop_new();
    if (mainloop_ == nullptr) {
        throw PulseError(PA_ERR_INTERNAL);
    }
    pa_threaded_mainloop_set_name(mainloop_, "orvinta-pulse");
    context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), clientName);
    if (context_ == nullptr) {
        pa_threaded_mainloop_free(mainloop_);
        throw PulseError(PA_ERR_INTERNAL);
    }
    pa_context_set_state_callback(context_, &PulseConnection::contextStateChanged, this);

    // Wait until the mainloop thread runs before this thread calls into it. libpulse sets up
    // its per-thread bookkeeping lazily, published through its own (uninstrumented) atomics; the
    // first thread to touch it must not race the new mainloop thread doing the same, or
    // ThreadSanitizer sees a mutex created on one thread and locked on the other with nothing
    // ordering the two. The flag's mutex supplies that order.
    ThreadStarted started;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    api->defer_new(
        api,
        [](pa_mainloop_api* loopApi, pa_defer_event* event, void* userdata) {
            loopApi->defer_free(event);
            auto* flag = static_cast<ThreadStarted*>(userdata);
            const std::lock_guard lock(flag->mutex);
            flag->running = true;
            flag->changed.notify_all();
        },
        &started);
    if (pa_threaded_mainloop_start(mainloop_) < 0) {
        pa_context_unref(context_);
        pa_threaded_mainloop_free(mainloop_);
        throw PulseError(PA_ERR_INTERNAL);
    }
    {
        std::unique_lock lock(started.mutex);
        started.changed.wait(lock, [&started] { return started.running; });
    }

    int error = PA_OK;
    {
        Lock lock(*this);
        // Never spawn a server: metering must not start a sound server behind the user's back.
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            error = pa_context_errno(context_);
        } else {
            const bool answered = waitUntil(
                [this] {
                    const pa_context_state_t state = pa_context_get_state(context_);
                    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
                },
                timeout);
            const pa_context_state_t state = pa_context_get_state(context_);
            if (!answered) {
                error = PA_ERR_TIMEOUT;
            } else if (state != PA_CONTEXT_READY) {
                error = pa_context_errno(context_);
                if (error == PA_OK) {
                    error = PA_ERR_CONNECTIONREFUSED;
                }
            } else {
                established_ = true;
                pa_context_set_subscribe_callback(context_, &PulseConnection::serverEvent, this);
                if (pa_operation* operation = pa_context_subscribe(
                        context_, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr)) {
                    pa_operation_unref(operation);
                }
            }
        }
        if (error != PA_OK) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
        }
    }
    if (error != PA_OK) {
        pa_threaded_mainloop_stop(mainloop_);
        pa_context_unref(context_);
        pa_threaded_mainloop_free(mainloop_);
        throw PulseError(error);
    }
}

PulseConnection::~PulseConnection() {
    {
        Lock lock(*this);
        established_ = false;
        deviceRequests_.clear();
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
}

PulseConnection::Lock::Lock(PulseConnection& connection)
    : mainloop_(connection.mainloop_), locked_(!connection.inMainloopThread()) {
    if (locked_) {
        pa_threaded_mainloop_lock(mainloop_);
    }
}

PulseConnection::Lock::~Lock() {
    if (locked_) {
        pa_threaded_mainloop_unlock(mainloop_);
    }
}

bool PulseConnection::inMainloopThread() const {
    return pa_threaded_mainloop_in_thread(mainloop_) != 0;
}

void PulseConnection::signal() {
    pa_threaded_mainloop_signal(mainloop_, 0);
}

void PulseConnection::contextStateChanged(pa_context* context, void* userdata) {
    auto* self = static_cast<PulseConnection*>(userdata);
    self->signal();
    const pa_context_state_t state = pa_context_get_state(context);
    if (self->established_ && !PA_CONTEXT_IS_GOOD(state)) {
        self->established_ = false;
        int error = pa_context_errno(context);
        if (error == PA_OK) {
            error = PA_ERR_CONNECTIONTERMINATED;
        }
        if (self->onConnectionLost) {
            self->onConnectionLost(error);
        }
    }
}

void PulseConnection::serverEvent(pa_context*, pa_subscription_event_type_t type, std::uint32_t,
                                  void* userdata) {
    auto* self = static_cast<PulseConnection*>(userdata);
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER &&
        self->onServerChanged) {
        self->onServerChanged();
    }
}

bool PulseConnection::waitUntil(const std::function<bool()>& done,
                                std::chrono::milliseconds timeout) {
    if (done()) {
        return true;
    }
    TimeoutFlag flag{mainloop_, false};
    const auto usec = static_cast<pa_usec_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(timeout).count());
    pa_time_event* event =
        pa_context_rttime_new(context_, pa_rtclock_now() + usec, &timeoutExpired, &flag);
    bool result = false;
    while (!(result = done()) && !flag.expired) {
        pa_threaded_mainloop_wait(mainloop_);
    }
    if (event != nullptr) {
        pa_threaded_mainloop_get_api(mainloop_)->time_free(event);
    }
    return result;
}

bool PulseConnection::waitForOperation(pa_operation* operation, std::chrono::milliseconds timeout) {
    if (operation == nullptr) {
        return false;
    }
    const bool finished = waitUntil(
        [operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, timeout);
    if (!finished) {
        // Cancelling guarantees that the callback, which writes to the caller's stack, never
        // runs after we return.
        pa_operation_cancel(operation);
    }
    pa_operation_unref(operation);
    return finished;
}

std::optional<PulseServerDefaults> PulseConnection::serverDefaults(
    std::chrono::milliseconds timeout) {
    DefaultsResult result{mainloop_, std::nullopt};
    pa_operation* operation = pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* userdata) {
            auto* r = static_cast<DefaultsResult*>(userdata);
            if (info != nullptr) {
                PulseServerDefaults defaults;
                defaults.defaultSinkName = info->default_sink_name ? info->default_sink_name : "";
                defaults.defaultSourceName =
                    info->default_source_name ? info->default_source_name : "";
                r->value = std::move(defaults);
            }
            pa_threaded_mainloop_signal(r->mainloop, 0);
        },
        &result);
    if (!waitForOperation(operation, timeout)) {
        return std::nullopt;
    }
    return result.value;
}

std::optional<PulseRecordDevice> PulseConnection::namedDevice(PulseDeviceKind kind,
                                                              const std::string& name,
                                                              std::chrono::milliseconds timeout) {
    if (name.empty()) {
        return std::nullopt;
    }
    try {
        return device(kind, name, timeout);
    } catch (const PulseError&) {
        return std::nullopt;
    }
}

std::optional<PulseSourceDescription> PulseConnection::sourceByName(
    const std::string& name, std::chrono::milliseconds timeout) {
    const auto found = namedDevice(PulseDeviceKind::source, name, timeout);
    if (!found) {
        return std::nullopt;
    }
    return PulseSourceDescription{found->name, found->sampleSpec, found->channelMap,
                                  found->isMonitor};
}

std::optional<PulseSinkDescription> PulseConnection::sinkByName(const std::string& name,
                                                                std::chrono::milliseconds timeout) {
    const auto found = namedDevice(PulseDeviceKind::sink, name, timeout);
    if (!found) {
        return std::nullopt;
    }
    return PulseSinkDescription{found->name, found->recordSourceName};
}

// One look-up in flight: the server's default device name first (when none was given), then
// the device's description.
struct PulseConnection::DeviceRequest {
    PulseConnection* connection = nullptr;
    PulseDeviceKind kind = PulseDeviceKind::source;
    DeviceCallback done;
    std::optional<PulseRecordDevice> device;
};

void PulseConnection::lookUpDevice(PulseDeviceKind kind, const std::string& name,
                                   DeviceCallback done) {
    deviceRequests_.push_back(
        std::make_unique<DeviceRequest>(DeviceRequest{this, kind, std::move(done), std::nullopt}));
    DeviceRequest* request = deviceRequests_.back().get();
    if (!name.empty()) {
        askForDevice(request, name);
        return;
    }
    pa_operation* operation = pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* userdata) {
            auto* r = static_cast<DeviceRequest*>(userdata);
            const char* defaultName = nullptr;
            if (info != nullptr) {
                defaultName = r->kind == PulseDeviceKind::sink ? info->default_sink_name
                                                               : info->default_source_name;
            }
            if (defaultName == nullptr || *defaultName == '\0') {
                r->connection->finish(r, std::nullopt);
            } else {
                r->connection->askForDevice(r, defaultName);
            }
        },
        request);
    if (operation == nullptr) {
        finish(request, std::nullopt);
    } else {
        pa_operation_unref(operation);
    }
}

void PulseConnection::askForDevice(DeviceRequest* request, const std::string& name) {
    // Both info callbacks get the device once, then the end of the list (eol 1), or eol -1 when
    // there is no such device.
    pa_operation* operation = nullptr;
    if (request->kind == PulseDeviceKind::sink) {
        operation = pa_context_get_sink_info_by_name(
            context_, name.c_str(),
            [](pa_context*, const pa_sink_info* info, int eol, void* userdata) {
                auto* r = static_cast<DeviceRequest*>(userdata);
                if (eol == 0 && info != nullptr && info->monitor_source_name != nullptr) {
                    r->device = PulseRecordDevice{info->name, info->monitor_source_name,
                                                  info->sample_spec, info->channel_map, false};
                } else if (eol != 0) {
                    r->connection->finish(r, eol > 0 ? r->device : std::nullopt);
                }
            },
            request);
    } else {
        operation = pa_context_get_source_info_by_name(
            context_, name.c_str(),
            [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
                auto* r = static_cast<DeviceRequest*>(userdata);
                if (eol == 0 && info != nullptr) {
                    r->device = PulseRecordDevice{info->name, info->name, info->sample_spec,
                                                  info->channel_map,
                                                  info->monitor_of_sink != PA_INVALID_INDEX};
                } else if (eol != 0) {
                    r->connection->finish(r, eol > 0 ? r->device : std::nullopt);
                }
            },
            request);
    }
    if (operation == nullptr) {
        finish(request, std::nullopt);
    } else {
        pa_operation_unref(operation);
    }
}

void PulseConnection::finish(DeviceRequest* request, std::optional<PulseRecordDevice> device) {
    DeviceCallback done = std::move(request->done);
    deviceRequests_.remove_if([request](const auto& r) { return r.get() == request; });
    if (done) {
        done(std::move(device));
    }
}

std::optional<PulseRecordDevice> PulseConnection::device(PulseDeviceKind kind,
                                                         const std::string& name,
                                                         std::chrono::milliseconds timeout) {
    // Shared with the callback, which may still come after a timeout.
    struct Answer {
        bool arrived = false;
        std::optional<PulseRecordDevice> device;
    };
    auto answer = std::make_shared<Answer>();
    lookUpDevice(kind, name, [this, answer](std::optional<PulseRecordDevice> found) {
        answer->arrived = true;
        answer->device = std::move(found);
        signal();
    });
    if (!waitUntil([&answer] { return answer->arrived; }, timeout)) {
        throw PulseError(PA_ERR_TIMEOUT);
    }
    return answer->device;
}

pa_stream* PulseConnection::connectRecordStream(
    const std::string& sourceName, const char* streamName, const pa_sample_spec& sampleSpec,
    const pa_channel_map* channelMap, pa_stream_flags_t flags, pa_stream_notify_cb_t stateChanged,
    pa_stream_request_cb_t readable, void* userdata, int& error, std::uint32_t sinkInput) {
    pa_stream* stream = pa_stream_new(
        context_, streamName, &sampleSpec,
        channelMap != nullptr && pa_channel_map_valid(channelMap) ? channelMap : nullptr);
    if (stream == nullptr) {
        error = pa_context_errno(context_);
        return nullptr;
    }
    pa_stream_set_state_callback(stream, stateChanged, userdata);
    pa_stream_set_read_callback(stream, readable, userdata);
    if (sinkInput != PA_INVALID_INDEX && pa_stream_set_monitor_stream(stream, sinkInput) < 0) {
        error = pa_context_errno(context_);
        releaseStream(stream);
        return nullptr;
    }
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize =
        static_cast<std::uint32_t>(pa_usec_to_bytes(kPulseFragmentUsec, &sampleSpec));
    const auto allFlags =
        static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY | flags);
    // No source name: the server picks the device (for one playback stream, the monitor of the
    // sink it plays to).
    const char* device = sourceName.empty() ? nullptr : sourceName.c_str();
    if (pa_stream_connect_record(stream, device, &attributes, allFlags) < 0) {
        error = pa_context_errno(context_);
        releaseStream(stream);
        return nullptr;
    }
    return stream;
}

void PulseConnection::releaseStream(pa_stream*& stream) {
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

int PulseConnection::streamLostItsDevice(pa_stream* changed, pa_stream*& current, bool active) {
    signal();
    if (changed != current || !active || pa_stream_get_state(changed) != PA_STREAM_FAILED ||
        !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
        return PA_OK;
    }
    const int error = pa_context_errno(context_);
    releaseStream(current);
    return error == PA_OK ? PA_ERR_KILLED : error;
}

pa_time_event* PulseConnection::startTimer(pa_usec_t usec, pa_time_event_cb_t fired,
                                           void* userdata) {
    return pa_context_rttime_new(context_, pa_rtclock_now() + usec, fired, userdata);
}

void PulseConnection::cancelTimer(pa_time_event*& timer) {
    if (timer != nullptr) {
        pa_threaded_mainloop_get_api(mainloop_)->time_free(timer);
        timer = nullptr;
    }
}

int PulseConnection::waitForStreamReady(pa_stream* stream, std::chrono::milliseconds timeout) {
    const bool answered = waitUntil(
        [stream] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        timeout);
    if (!answered) {
        return PA_ERR_TIMEOUT;
    }
    return pa_stream_get_state(stream) == PA_STREAM_READY ? PA_OK : pa_context_errno(context_);
}

}  // namespace orvinta
