#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "measurement/loudness_snapshot.h"

namespace orvinta {

// Sums the audio of several record streams into one stream of fixed-size planar blocks: the
// streams of one application, each recorded on its own and arriving in its own chunks.
//
// Every stream queues its interleaved frames in its own FIFO. A block is mixed, sample by sample
// from the head of every FIFO, once every stream that still runs has a whole block queued, so
// streams the server renders together stay sample-aligned however their chunks are cut. A stream
// that stalls cannot hold the others back: once any stream has kMaxLagFrames queued, blocks are
// mixed anyway and the stalled stream contributes what it has, silence for the rest. A stream
// that has ended still contributes what it queued, then leaves.
//
// Owned by one capture source and used only on its delivery thread. Adding a stream allocates its
// FIFO; pushing audio allocates only the block handed on.
class ApplicationStreamMixer {
public:
    using Key = std::uint64_t;
    using BlockCallback = std::function<void(ChannelBuffers&&)>;

    static constexpr std::size_t kBlockFrames = 960;
    // 100 ms: the most a stalled stream delays the others.
    static constexpr std::size_t kMaxLagFrames = 4800;

    ApplicationStreamMixer(int channelCount, BlockCallback onBlock);

    bool contains(Key key) const;
    // Starts queueing for a new stream; a key already present is left as it is.
    void add(Key key);
    // Appends `frames` interleaved frames to the stream's FIFO (nullptr: silence) and hands on
    // every block that is then ready. A key not present is ignored.
    void push(Key key, const float* interleaved, std::size_t frames);
    // No more audio comes for the stream; what it queued is still mixed.
    void end(Key key);
    // Forgets every stream and what it queued.
    void clear() { streams_.clear(); }

private:
    struct Stream {
        Key key = 0;
        bool ended = false;
        std::vector<float> fifo;  // interleaved, kFifoFrames frames
        std::size_t readFrame = 0;
        std::size_t queuedFrames = 0;
    };
    static constexpr std::size_t kFifoFrames = kMaxLagFrames + kBlockFrames;

    Stream* find(Key key);
    void mixReadyBlocks();
    void mixBlock();

    std::size_t channels_;
    BlockCallback onBlock_;
    std::vector<Stream> streams_;
};

}  // namespace orvinta
