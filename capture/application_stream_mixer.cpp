#include "capture/application_stream_mixer.h"

#include <algorithm>
#include <utility>

namespace orvinta {

ApplicationStreamMixer::ApplicationStreamMixer(int channelCount, BlockCallback onBlock)
    : channels_(static_cast<std::size_t>(std::max(channelCount, 1))),
      onBlock_(std::move(onBlock)) {}

ApplicationStreamMixer::Stream* ApplicationStreamMixer::find(Key key) {
    const auto it = std::find_if(streams_.begin(), streams_.end(),
                                 [key](const Stream& stream) { return stream.key == key; });
    return it == streams_.end() ? nullptr : &*it;
}

bool ApplicationStreamMixer::contains(Key key) const {
    return std::any_of(streams_.begin(), streams_.end(),
                       [key](const Stream& stream) { return stream.key == key; });
}

void ApplicationStreamMixer::add(Key key) {
    if (contains(key)) {
        return;
    }
    Stream stream;
    stream.key = key;
    stream.fifo.assign(kFifoFrames * channels_, 0.0f);
    streams_.push_back(std::move(stream));
}

void ApplicationStreamMixer::push(Key key, const float* interleaved, std::size_t frames) {
    while (frames > 0) {
        // Looked up again on every round: mixing may remove ended streams and move the others.
        Stream* stream = find(key);
        if (stream == nullptr || stream->ended) {
            return;
        }
        // Mixing leaves every FIFO below kMaxLagFrames, so there is always room for a block.
        const std::size_t writeFrame = (stream->readFrame + stream->queuedFrames) % kFifoFrames;
        const std::size_t take =
            std::min({frames, kFifoFrames - stream->queuedFrames, kFifoFrames - writeFrame});
        float* target = stream->fifo.data() + writeFrame * channels_;
        if (interleaved != nullptr) {
            std::copy_n(interleaved, take * channels_, target);
            interleaved += take * channels_;
        } else {
            std::fill_n(target, take * channels_, 0.0f);
        }
        stream->queuedFrames += take;
        frames -= take;
        mixReadyBlocks();
    }
}

void ApplicationStreamMixer::end(Key key) {
    if (Stream* stream = find(key)) {
        stream->ended = true;
        mixReadyBlocks();
    }
}

void ApplicationStreamMixer::mixReadyBlocks() {
    for (;;) {
        std::erase_if(streams_, [](const Stream& stream) {
            return stream.ended && stream.queuedFrames == 0;
        });
        std::size_t mostQueued = 0;
        bool everyRunningStreamHasABlock = true;
        bool anyRunning = false;
        for (const Stream& stream : streams_) {
            mostQueued = std::max(mostQueued, stream.queuedFrames);
            if (!stream.ended) {
                anyRunning = true;
                everyRunningStreamHasABlock =
                    everyRunningStreamHasABlock && stream.queuedFrames >= kBlockFrames;
            }
        }
        if (mostQueued == 0) {
            return;
        }
        // With every stream ended, their last frames go out in a block padded with silence.
        const bool ready =
            anyRunning ? everyRunningStreamHasABlock && mostQueued >= kBlockFrames : true;
        if (!ready && mostQueued < kMaxLagFrames) {
            return;
        }
        mixBlock();
    }
}

void ApplicationStreamMixer::mixBlock() {
    ChannelBuffers block(channels_, std::vector<float>(kBlockFrames, 0.0f));
    for (Stream& stream : streams_) {
        const std::size_t frames = std::min(stream.queuedFrames, kBlockFrames);
        for (std::size_t i = 0; i < frames; ++i) {
            const float* frame =
                stream.fifo.data() + ((stream.readFrame + i) % kFifoFrames) * channels_;
            for (std::size_t c = 0; c < channels_; ++c) {
                block[c][i] += frame[c];
            }
        }
        stream.readFrame = (stream.readFrame + frames) % kFifoFrames;
        stream.queuedFrames -= frames;
    }
    if (onBlock_) {
        onBlock_(std::move(block));
    }
}

}  // namespace orvinta
