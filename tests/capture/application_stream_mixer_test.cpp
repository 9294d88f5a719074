#include "capture/application_stream_mixer.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace orvinta {
namespace {

// Collects the mixer's blocks as one planar recording.
struct MixedRecording {
    ChannelBuffers frames{2};
    ApplicationStreamMixer mixer{
        2, [this](ChannelBuffers&& block) {
            ASSERT_EQ(block.size(), 2u);
            ASSERT_EQ(block[0].size(), ApplicationStreamMixer::kBlockFrames);
            for (std::size_t c = 0; c < 2; ++c) {
                frames[c].insert(frames[c].end(), block[c].begin(), block[c].end());
            }
        }};
    std::size_t length() const { return frames[0].size(); }
};

// Stream `key` carries frame n as (key * 1e5 + n, -(key * 1e5 + n)): any slip or mix-up shows.
std::vector<float> framesOf(int key, std::size_t first, std::size_t count) {
    std::vector<float> interleaved;
    for (std::size_t n = first; n < first + count; ++n) {
        const auto value = static_cast<float>(key * 100000 + static_cast<int>(n));
        interleaved.push_back(value);
        interleaved.push_back(-value);
    }
    return interleaved;
}

TEST(ApplicationStreamMixer, StreamsCutDifferentlyAreSummedSampleAligned) {
    MixedRecording recording;
    recording.mixer.add(1);
    recording.mixer.add(2);
    const std::array<std::vector<std::size_t>, 2> cuts = {
        {{1, 127, 480, 1024, 2047}, {960, 333, 1500}}};
    std::array<std::size_t, 2> pushed = {0, 0};
    std::array<std::size_t, 2> turn = {0, 0};
    while (pushed[0] < 48000 || pushed[1] < 48000) {
        // The stream that is behind pushes next, as two streams of one sink arrive.
        const std::size_t s = pushed[0] <= pushed[1] ? 0 : 1;
        const std::size_t count = cuts[s][turn[s]++ % cuts[s].size()];
        const auto chunk = framesOf(static_cast<int>(s) + 1, pushed[s], count);
        recording.mixer.push(s + 1, chunk.data(), count);
        pushed[s] += count;
    }
    ASSERT_GE(recording.length(), 47000u);
    for (std::size_t n = 0; n < recording.length(); ++n) {
        const float expected = static_cast<float>(300000 + 2 * static_cast<int>(n));
        ASSERT_EQ(recording.frames[0][n], expected) << "frame " << n;
        ASSERT_EQ(recording.frames[1][n], -expected) << "frame " << n;
    }
}

TEST(ApplicationStreamMixer, AStalledStreamHoldsTheOthersBackAtMostTheLagBoundAndEndedOnesDrain) {
    MixedRecording recording;
    recording.mixer.add(1);
    recording.mixer.add(2);  // never delivers
    const auto audio = framesOf(1, 0, 10000);
    for (std::size_t first = 0; first < 10000; first += 500) {
        recording.mixer.push(1, audio.data() + 2 * first, 500);
    }
    EXPECT_GE(recording.length(), 10000 - ApplicationStreamMixer::kMaxLagFrames);

    recording.mixer.end(2);
    EXPECT_GT(recording.length(), 10000 - ApplicationStreamMixer::kBlockFrames);

    // The last frames of an ended stream go out, padded with silence to a whole block.
    recording.mixer.end(1);
    ASSERT_EQ(recording.length(), 11 * ApplicationStreamMixer::kBlockFrames);
    for (std::size_t n = 0; n < recording.length(); ++n) {
        ASSERT_EQ(recording.frames[0][n], n < 10000 ? audio[2 * n] : 0.0f) << "frame " << n;
    }
    EXPECT_FALSE(recording.mixer.contains(1));
}

}  // namespace
}  // namespace orvinta
