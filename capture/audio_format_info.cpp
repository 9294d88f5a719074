#include "capture/audio_format_info.h"

#include <cmath>
#include <cstdio>

namespace orvinta {

std::string AudioFormatInfo::displayDescription() const {
    char rate[64];
    const double kiloHertz = sampleRate / 1000.0;
    // A whole kHz value reads without decimals ("48 kHz"); anything else gets one ("44.1 kHz").
    const bool whole = std::isfinite(kiloHertz) && std::trunc(kiloHertz) == kiloHertz;
    std::snprintf(rate, sizeof rate, whole ? "%.0f kHz" : "%.1f kHz", kiloHertz);

    std::string text = rate;
    if (bitDepth) {
        text += " / " + std::to_string(*bitDepth) + (isFloatingPoint ? "-bit float" : "-bit");
    }
    text += " / ";
    if (channelCount == 1) {
        text += "Mono";
    } else if (channelCount == 2) {
        text += "Stereo";
    } else {
        text += std::to_string(channelCount) + "ch";
    }
    return text;
}

}  // namespace orvinta
