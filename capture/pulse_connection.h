#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "capture/audio_format_converter.h"
#include "capture/audio_format_info.h"
#include "capture/pulse_error.h"
#include "capture/pulse_format.h"
#include "measurement/channel_position.h"

namespace orvinta {

// Limits shared by every connection and record stream of the capture sources.
inline constexpr const char* kPulseClientName = "Orvinta";
inline constexpr std::chrono::milliseconds kPulseConnectTimeout{3000};
inline constexpr std::chrono::milliseconds kPulseQueryTimeout{2000};
inline constexpr std::chrono::milliseconds kPulseStreamTimeout{5000};
// Record fragments of 40 ms: one per snapshot the engine hands over (at most one per 33 ms),
// so the meters move as often as they can while the capture and processing threads wake half
// as often as with 20 ms.
inline constexpr pa_usec_t kPulseFragmentUsec = 40'000;
// A started source that has delivered nothing after this long is reported as broken.
inline constexpr pa_usec_t kPulseStartWatchdogUsec = 3'000'000;

// What the sources need to know about a source (device) of the server.
struct PulseSourceDescription {
    std::string name;
    pa_sample_spec sampleSpec{};
    pa_channel_map channelMap{};
    bool isMonitor = false;
};

// What the system-audio source needs to know about a sink.
struct PulseSinkDescription {
    std::string name;
    std::string monitorSourceName;
};

// A device a record stream can be connected to: a source, or a sink through its monitor.
enum class PulseDeviceKind { source, sink };

struct PulseRecordDevice {
    std::string name;              // the source's or the sink's name
    std::string recordSourceName;  // the source itself, or the sink's monitor
    pa_sample_spec sampleSpec{};
    pa_channel_map channelMap{};
    bool isMonitor = false;  // a source that is the monitor of a sink
};

// The server's current default devices; an empty name means there is none.
struct PulseServerDefaults {
    std::string defaultSinkName;
    std::string defaultSourceName;
};

// One client connection to the sound server (PulseAudio, or PipeWire through pipewire-pulse):
// a threaded mainloop with its own thread and a context connected on it. The mainloop thread
// runs every callback with the mainloop lock held; every other thread takes the lock (Lock)
// before touching the context or a stream.
//
// The constructor connects and blocks until the server answers or the timeout passes; it never
// spawns a server. Destroy the connection from any thread but its own mainloop thread (the
// destructor joins that thread).
class PulseConnection {
public:
    // Throws PulseError: PA_ERR_ACCESS when the server refuses us, PA_ERR_TIMEOUT when it does
    // not answer in time, otherwise the connection failure's code.
    PulseConnection(const char* clientName, std::chrono::milliseconds timeout);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Holds the mainloop lock; a no-op on the mainloop thread, which already holds it.
    class Lock {
    public:
        explicit Lock(PulseConnection& connection);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* mainloop_;
        bool locked_;
    };

    pa_threaded_mainloop* mainloop() const { return mainloop_; }
    pa_context* context() const { return context_; }
    bool inMainloopThread() const;

    // Called once, on the mainloop thread, when the established connection fails (server gone,
    // connection terminated), with the server's error code. Set it under the lock.
    std::function<void(int)> onConnectionLost;
    // Called on the mainloop thread whenever the server's settings change (the default sink or
    // source among them). Set it under the lock.
    std::function<void()> onServerChanged;

    // With the lock held: asks for a device (the default one when `name` is empty) and calls
    // `done` on the mainloop thread with its description, or with nothing when there is none.
    // `done` is dropped uncalled when the connection closes first.
    using DeviceCallback = std::function<void(std::optional<PulseRecordDevice>)>;
    void lookUpDevice(PulseDeviceKind kind, const std::string& name, DeviceCallback done);
    // The same, blocking, for a thread other than the mainloop thread. Throws PulseError
    // (PA_ERR_TIMEOUT) when the server does not answer in time.
    std::optional<PulseRecordDevice> device(PulseDeviceKind kind, const std::string& name,
                                            std::chrono::milliseconds timeout);

    // With the lock held: a new record stream on `sourceName` in `sampleSpec`, with 20 ms
    // fragments, connected with PA_STREAM_DONT_MOVE (when its device goes away it fails instead
    // of being moved to whatever the server picks, which could be a microphone) plus `flags`.
    // With `sinkInput` and no source name, the stream records that one playback stream alone
    // (on the monitor of the sink it plays to). Returns nothing with `error` set when the server
    // refuses it. The stream is connecting: wait with waitForStreamReady, release with
    // releaseStream.
    pa_stream* connectRecordStream(const std::string& sourceName, const char* streamName,
                                   const pa_sample_spec& sampleSpec,
                                   const pa_channel_map* channelMap, pa_stream_flags_t flags,
                                   pa_stream_notify_cb_t stateChanged,
                                   pa_stream_request_cb_t readable, void* userdata, int& error,
                                   std::uint32_t sinkInput = PA_INVALID_INDEX);
    // With the lock held: detaches the callbacks, disconnects and unreferences; sets it null.
    // Sends the disconnect and returns at once, whether or not the server answers.
    static void releaseStream(pa_stream*& stream);
    // From a record stream's state callback, for `current`, the stream a source records while
    // `active`. Wakes the waiters. When `current` failed on its own while the connection stays up
    // (its device went away, "Entity killed"; a dying server fails the context too, and that goes
    // to onConnectionLost), releases it and returns the server's error; otherwise PA_OK.
    int streamLostItsDevice(pa_stream* changed, pa_stream*& current, bool active);
    // With the lock held: a one-shot timer on the mainloop thread after `usec`; cancelTimer
    // frees a timer that has not fired (the callback frees its own with the api) and nulls it.
    pa_time_event* startTimer(pa_usec_t usec, pa_time_event_cb_t fired, void* userdata);
    void cancelTimer(pa_time_event*& timer);

    // Blocking queries for a thread other than the mainloop thread, with the lock held. Each
    // waits at most `timeout`; on timeout or failure they return nothing.
    std::optional<PulseServerDefaults> serverDefaults(std::chrono::milliseconds timeout);
    std::optional<PulseSourceDescription> sourceByName(const std::string& name,
                                                       std::chrono::milliseconds timeout);
    std::optional<PulseSinkDescription> sinkByName(const std::string& name,
                                                   std::chrono::milliseconds timeout);

    // With the lock held, on a thread other than the mainloop thread: waits until `done` holds
    // (checked whenever the mainloop signals) or the timeout passes. Returns whether done.
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    // Wakes every waitUntil; call it from callbacks that change what a waiter checks.
    void signal();
    // With the lock held: waits until a stream being connected is ready or has failed. Returns
    // PA_OK when it is ready, otherwise the server's error code (PA_ERR_TIMEOUT on timeout).
    int waitForStreamReady(pa_stream* stream, std::chrono::milliseconds timeout);

private:
    struct DeviceRequest;

    static void contextStateChanged(pa_context* context, void* userdata);
    static void serverEvent(pa_context* context, pa_subscription_event_type_t type,
                            std::uint32_t index, void* userdata);
    bool waitForOperation(pa_operation* operation, std::chrono::milliseconds timeout);
    void askForDevice(DeviceRequest* request, const std::string& name);
    // device() by name, with nothing for an empty name or no answer.
    std::optional<PulseRecordDevice> namedDevice(PulseDeviceKind kind, const std::string& name,
                                                 std::chrono::milliseconds timeout);
    void finish(DeviceRequest* request, std::optional<PulseRecordDevice> device);

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    bool established_ = false;  // mainloop lock
    // Device look-ups waiting for the server; mainloop lock.
    std::list<std::unique_ptr<DeviceRequest>> deviceRequests_;
};

}  // namespace orvinta
