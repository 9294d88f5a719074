#pragma once

#include <memory>

#include "capture/audio_capture_source.h"
#include "capture/audio_format_info.h"

namespace orvinta {

// Capture source for whatever the computer is playing: the default sink's monitor, followed
// when the user switches the output device. Delivers 960-frame blocks of 48 000 Hz stereo
// float audio on the server's mainloop thread, with a start watchdog and timing diagnostics.
class SystemAudioCapture final : public AudioCaptureSource {
public:
    SystemAudioCapture();
    ~SystemAudioCapture() override;

    int channelCount() const override;
    void start() override;
    void stop() override;

    // The format every delivery has: 48 kHz, 32-bit float, stereo (the server converts the
    // monitor to it). Known without asking the server.
    static AudioFormatInfo deliveredFormatInfo();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvinta
