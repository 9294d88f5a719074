#pragma once

#include <optional>
#include <string>

namespace orvinta {

// Description of the format a source captures (the device's or stream's, not the
// converted output), with its one-line display text such as "48 kHz / 24-bit / Stereo".
struct AudioFormatInfo {
    double sampleRate = 0.0;
    std::optional<int> bitDepth;
    bool isFloatingPoint = false;
    int channelCount = 0;

    std::string displayDescription() const;

    friend bool operator==(const AudioFormatInfo&, const AudioFormatInfo&) = default;
};

}  // namespace orvinta
