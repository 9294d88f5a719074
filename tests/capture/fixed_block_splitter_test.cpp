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
    ChannelBuffers joined(2);
    for (const auto& block : blocks) {
        ASSERT_EQ(block.size(), 2u);
        ASSERT_EQ(block[0].size(), 960u);
        joined[0].insert(joined[0].end(), block[0].begin(), block[0].end());
        joined[1].insert(joined[1].end(), block[1].begin(), block[1].end());
    }
    EXPECT_EQ(joined, ramp(0, joined[0].size()));

    // A missing channel is silent; reset() drops the frames waiting.
    splitter.reset();
    blocks.clear();
    splitter.push(ChannelBuffers{std::vector<float>(1500, 0.5f)},
                  [&](ChannelBuffers&& block) { blocks.push_back(block); });
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0][0], std::vector<float>(960, 0.5f));
    EXPECT_EQ(blocks[0][1], std::vector<float>(960, 0.0f));
}

}  // namespace
}  // namespace orvinta
