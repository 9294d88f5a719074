#pragma once

#include <exception>
#include <functional>
#include <vector>

#include "capture/audio_format_info.h"
#include "measurement/channel_position.h"
#include "measurement/loudness_snapshot.h"

namespace orvinta {

// The contract every capture source keeps, so that the engine and the application state
// treat the microphone and system audio alike.
//
// Threads: start() blocks its calling thread (a background thread, never the UI thread)
// until capture runs, and fails by throwing the source's error (an AudioCaptureError or the
// sound server's own error). onBuffer and onError are called on the source's own delivery
// thread. The callbacks are set only while the source is not delivering (before start(),
// or after stop() has returned), and once stop() has returned no callback of that run is
// called again; this ordering is what keeps the plain std::function slots free of races.
class AudioCaptureSource {
public:
    using BufferCallback = std::function<void(ChannelBuffers&&)>;
    using ErrorCallback = std::function<void(std::exception_ptr)>;
    using FormatInfoCallback = std::function<void(const AudioFormatInfo&)>;

    virtual ~AudioCaptureSource() = default;

    // Number of channel arrays in every delivered buffer list; valid once start() returned.
    virtual int channelCount() const = 0;
    // Where each delivered channel sits, one entry per channel, when the source knows its
    // channel map; empty otherwise (the analyzer then weights by channel count). Valid once
    // start() returned.
    virtual std::vector<ChannelPosition> channelPositions() const { return {}; }

    // Converted audio: channelCount() arrays of equal length, 32-bit float, 48 000 Hz.
    BufferCallback onBuffer;
    // Errors that occur after a successful start.
    ErrorCallback onError;
    // The captured format, once per start.
    FormatInfoCallback onFormatInfo;

    virtual void start() = 0;
    virtual void stop() = 0;

protected:
    AudioCaptureSource() = default;
    AudioCaptureSource(const AudioCaptureSource&) = delete;
    AudioCaptureSource& operator=(const AudioCaptureSource&) = delete;
};

}  // namespace orvinta
