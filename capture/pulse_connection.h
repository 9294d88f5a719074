#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "capture/audio_format_converter.h"
#include "capture/audio_format_info.h"

namespace orvinta {

// An error the sound server reported, with its code (a PA_ERR_* value). what() is a sentence
// the user can read, ending in the server's own text (pa_strerror).
class PulseError : public std::runtime_error {
public:
    explicit PulseError(int code);
    PulseError(int code, const std::string& description);

    int code() const { return code_; }
    // The server's own text for the code, such as "Connection terminated".
    std::string serverText() const;

private:
    int code_;
};

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
    static void contextStateChanged(pa_context* context, void* userdata);
    bool waitForOperation(pa_operation* operation, std::chrono::milliseconds timeout);

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    bool established_ = false;  // mainloop lock
};

// The sample type the converter reads for a server sample format, or nothing when the
// converter cannot read it (big-endian formats, A-law, mu-law).
std::optional<SampleType> sampleTypeFor(pa_sample_format_t format);

// The format description shown to the user for a server sample spec: rate, bits (u8 8,
// s16 16, s24 and s24-32 24, s32 32, float32 32 float), channels.
AudioFormatInfo formatInfoFor(const pa_sample_spec& sampleSpec);

}  // namespace orvinta
