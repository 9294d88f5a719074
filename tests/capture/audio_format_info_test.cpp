#include "capture/audio_format_info.h"

#include <gtest/gtest.h>

#include <utility>

namespace orvinta {
namespace {

TEST(AudioFormatInfo, DisplayTextNamesRateDepthAndChannels) {
    const std::pair<AudioFormatInfo, const char*> cases[] = {
        {{48000, 24, false, 2}, "48 kHz / 24-bit / Stereo"},
        {{44100, 32, true, 1}, "44.1 kHz / 32-bit float / Mono"},
        {{48000, std::nullopt, true, 6}, "48 kHz / 6ch"},
        {{22050, 16, false, 0}, "22.1 kHz / 16-bit / 0ch"},
        {{192000, std::nullopt, false, 2}, "192 kHz / Stereo"},
    };
    for (const auto& [info, text] : cases) {
        EXPECT_EQ(info.displayDescription(), text);
    }
}

}  // namespace
}  // namespace orvinta
