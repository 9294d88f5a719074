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
        {{48000, std::nullopt, false, 2}, "48 kHz / Stereo"},
        // Fractional rates round to one decimal.
        {{22050, 16, false, 2}, "22.1 kHz / 16-bit / Stereo"},
        {{88200, std::nullopt, false, 2}, "88.2 kHz / Stereo"},
        {{192000, std::nullopt, false, 2}, "192 kHz / Stereo"},
        // Unusual channel counts read as counts.
        {{48000, 16, false, 0}, "48 kHz / 16-bit / 0ch"},
        {{48000, 16, false, 8}, "48 kHz / 16-bit / 8ch"},
    };
    for (const auto& [info, text] : cases) {
        EXPECT_EQ(info.displayDescription(), text);
    }
}

TEST(AudioFormatInfo, EqualityComparesEveryField) {
    const AudioFormatInfo base{48000, 24, false, 2};
    EXPECT_EQ(base, (AudioFormatInfo{48000, 24, false, 2}));
    EXPECT_NE(base, (AudioFormatInfo{44100, 24, false, 2}));
    EXPECT_NE(base, (AudioFormatInfo{48000, std::nullopt, false, 2}));
    EXPECT_NE(base, (AudioFormatInfo{48000, 24, true, 2}));
    EXPECT_NE(base, (AudioFormatInfo{48000, 24, false, 1}));
}

}  // namespace
}  // namespace orvinta
