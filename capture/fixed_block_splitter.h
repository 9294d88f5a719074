#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>

#include "measurement/loudness_snapshot.h"

namespace orvinta {

// Cuts a stream of converted audio into blocks of exactly `blockFrames` frames, carrying the
// remainder of each chunk over to the next. Blocks of 960 frames (20 ms at 48 000 Hz) divide
// the analyzer's 4 800-frame hop, so every hop falls on the 100 ms grid whatever chunk sizes
// the sound server hands us.
//
// Owned by one capture source and used only on its delivery thread. Memory is taken once per
// block (the block that is handed on), never per sample.
class FixedBlockSplitter {
public:
    static constexpr std::size_t kDefaultBlockFrames = 960;

    explicit FixedBlockSplitter(int channelCount, std::size_t blockFrames = kDefaultBlockFrames)
        : channelCount_(std::max(channelCount, 1)),
          blockFrames_(std::max<std::size_t>(blockFrames, 1)) {
        startBlock();
    }

    int channelCount() const { return channelCount_; }
    std::size_t blockFrames() const { return blockFrames_; }
    // Frames waiting for the next block.
    std::size_t pendingFrames() const { return pending_.front().size(); }

    // Appends `input` (channelCount() arrays; missing channels count as silence, extra ones are
    // ignored) and calls `deliver(ChannelBuffers&&)` once for every block completed.
    template <typename Deliver>
    void push(const ChannelBuffers& input, Deliver&& deliver) {
        std::size_t frames = input.empty() ? 0 : input.front().size();
        for (const auto& channel : input) {
            frames = std::min(frames, channel.size());
        }
        std::size_t offset = 0;
        while (offset < frames) {
            const std::size_t take = std::min(frames - offset, blockFrames_ - pendingFrames());
            for (int c = 0; c < channelCount_; ++c) {
                auto& target = pending_[static_cast<std::size_t>(c)];
                if (static_cast<std::size_t>(c) < input.size()) {
                    const auto& source = input[static_cast<std::size_t>(c)];
                    target.insert(target.end(),
                                  source.begin() + static_cast<std::ptrdiff_t>(offset),
                                  source.begin() + static_cast<std::ptrdiff_t>(offset + take));
                } else {
                    target.insert(target.end(), take, 0.0f);
                }
            }
            offset += take;
            if (pendingFrames() == blockFrames_) {
                ChannelBuffers block = std::move(pending_);
                startBlock();
                deliver(std::move(block));
            }
        }
    }

    // Drops the frames waiting for the next block.
    void reset() { startBlock(); }

private:
    void startBlock() {
        pending_.assign(static_cast<std::size_t>(channelCount_), {});
        for (auto& channel : pending_) {
            channel.reserve(blockFrames_);
        }
    }

    int channelCount_;
    std::size_t blockFrames_;
    ChannelBuffers pending_;
};

}  // namespace orvinta
