#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "capture/audio_capture_source.h"
#include "capture/audio_format_info.h"

namespace orvinta {

// Capture source for the sound server's default input device (never a monitor source),
// followed when the user switches the default input. Records in the device's own sample spec
// and channel map and delivers 960-frame blocks of 48 000 Hz float audio on the server's
// mainloop thread, with a start watchdog for a device that connects but never delivers.
class MicrophoneCapture final : public AudioCaptureSource {
public:
    MicrophoneCapture();
    ~MicrophoneCapture() override;

    int channelCount() const override;
    std::vector<ChannelPosition> channelPositions() const override;
    void start() override;
    void stop() override;

    // The default input device's format, asked of the server with a short timeout; nothing
    // when there is no server, no default source, or the default source is a monitor.
    static std::optional<AudioFormatInfo> currentInputFormatInfo();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvinta
