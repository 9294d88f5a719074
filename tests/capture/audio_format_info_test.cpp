#include "capture/audio_format_info.h"

#include <gtest/gtest.h>

namespace orvinta {
namespace {

TEST(AudioFormatInfo, DisplayTextMatchesTheDocumentedExamples) {
    EXPECT_EQ((AudioFormatInfo{48000, 24, false, 2}.displayDescription()),
              "48 kHz / 24-bit / Stereo");
    EXPECT_EQ((AudioFormatInfo{44100, 32, true, 1}.displayDescription()),
              "44.1 kHz / 32-bit float / Mono");
    EXPECT_EQ((AudioFormatInfo{48000, std::nullopt, true, 6}.displayDescription()), "48 kHz / 6ch");
    EXPECT_EQ((AudioFormatInfo{48000, std::nullopt, false, 2}.displayDescription()),
              "48 kHz / Stereo");
}

TEST(AudioFormatInfo, FractionalRatesRoundToOneDecimal) {
    EXPECT_EQ((AudioFormatInfo{22050, 16, false, 2}.displayDescription()),
              "22.1 kHz / 16-bit / Stereo");
    EXPECT_EQ((AudioFormatInfo{88200, std::nullopt, false, 2}.displayDescription()),
              "88.2 kHz / Stereo");
    EXPECT_EQ((AudioFormatInfo{192000, std::nullopt, false, 2}.displayDescription()),
              "192 kHz / Stereo");
}

TEST(AudioFormatInfo, UnusualChannelCountsReadAsCounts) {
    EXPECT_EQ((AudioFormatInfo{48000, 16, false, 0}.displayDescription()), "48 kHz / 16-bit / 0ch");
    EXPECT_EQ((AudioFormatInfo{48000, 16, false, 8}.displayDescription()), "48 kHz / 16-bit / 8ch");
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
