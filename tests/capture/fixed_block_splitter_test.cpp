#include "capture/fixed_block_splitter.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

namespace orvinta {
namespace {

// A stereo ramp: left carries the frame index, right its negative, so any lost, doubled or
// reordered frame shows.
ChannelBuffers ramp(std::size_t first, std::size_t frames) {
    ChannelBuffers channels(2, std::vector<float>(frames));
    for (std::size_t i = 0; i < frames; ++i) {
        channels[0][i] = static_cast<float>(first + i);
        channels[1][i] = -static_cast<float>(first + i);
    }
    return channels;
}

TEST(FixedBlockSplitter, AwkwardChunksComeOutAsExactBlocksInOrder) {
    FixedBlockSplitter splitter(2);
    std::vector<ChannelBuffers> blocks;
    std::size_t fed = 0;
    for (std::size_t chunk : {1, 127, 480, 1024, 4095, 4801, 4, 960, 959, 2}) {
        splitter.push(ramp(fed, chunk), [&](ChannelBuffers&& block) { blocks.push_back(block); });
        fed += chunk;
    }
    ASSERT_EQ(blocks.size(), fed / 960);
    EXPECT_EQ(splitter.pendingFrames(), fed % 960);
    std::size_t expected = 0;
    for (const auto& block : blocks) {
        ASSERT_EQ(block.size(), 2u);
        ASSERT_EQ(block[0].size(), 960u);
        ASSERT_EQ(block[1].size(), 960u);
        for (std::size_t i = 0; i < 960; ++i, ++expected) {
            ASSERT_EQ(block[0][i], static_cast<float>(expected));
            ASSERT_EQ(block[1][i], -static_cast<float>(expected));
        }
    }
}

TEST(FixedBlockSplitter, MissingChannelsAreSilentAndResetDropsTheRemainder) {
    FixedBlockSplitter splitter(2, 4);
    std::vector<ChannelBuffers> blocks;
    const auto collect = [&](ChannelBuffers&& block) { blocks.push_back(block); };
    splitter.push(ChannelBuffers{{1.0f, 2.0f, 3.0f}}, collect);
    splitter.reset();
    EXPECT_EQ(splitter.pendingFrames(), 0u);
    splitter.push(ChannelBuffers{{5.0f, 6.0f, 7.0f, 8.0f}}, collect);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0][0], (std::vector<float>{5.0f, 6.0f, 7.0f, 8.0f}));
    EXPECT_EQ(blocks[0][1], (std::vector<float>(4, 0.0f)));
}

}  // namespace
}  // namespace orvinta
