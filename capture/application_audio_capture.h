#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/audio_capture_source.h"

namespace orvinta {

// An application that has at least one stream playing on the sound server.
struct PlayingApplication {
    std::string id;           // stable across the application's streams: its application.name
                              // property, else its process binary
    std::string displayName;  // what the input menu shows (application.name, else the binary)

    friend bool operator==(const PlayingApplication&, const PlayingApplication&) = default;
};

// Capture source for one application's own sound, before the server mixes it with anything else:
// every stream (sink input) the application plays gets a record stream on the monitor of the sink
// it plays to, restricted to that one input (a monitor stream). The streams are summed into
// 960-frame blocks of 48 000 Hz stereo float audio, delivered on the server's mainloop thread.
// Streams that start later join, streams that end leave, a stream moved to another sink is
// recorded there; while none plays, nothing is delivered.
//
// Made by the application state for each start of metering, like the other sources.
class ApplicationAudioCapture final : public AudioCaptureSource {
public:
    explicit ApplicationAudioCapture(std::string applicationId);
    ~ApplicationAudioCapture() override;

    // The applications playing now, one entry per id, in a stable order (by name); empty without
    // a server. Blocks briefly on the server: never call it on the UI thread.
    static std::vector<PlayingApplication> playingApplications();

    const std::string& applicationId() const;

    int channelCount() const override;  // 2
    // Throws AudioCaptureError when the application has no stream playing, PulseError when the
    // server cannot be reached.
    void start() override;
    void stop() override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvinta
