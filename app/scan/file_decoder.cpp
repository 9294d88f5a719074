#include "app/scan/file_decoder.h"

#include <algorithm>

namespace orvinta {

namespace {

constexpr std::size_t kChunkFrames = 4096;

}  // namespace

FileDecoder::FileDecoder(const std::string& path) : reader(path) {
    if (reader.failed()) {
        return;
    }
    const auto channels = static_cast<std::size_t>(reader.channels());
    chunk.resize(kChunkFrames * channels);
    destinations.resize(channels);
    if (reader.sampleRate() != static_cast<int>(RateConverter::outputRate)) {
        converter = std::make_unique<RateConverter>(reader.sampleRate(), reader.channels());
    }
}

const std::string& FileDecoder::error() const {
    return converter && !converter->error().empty() ? converter->error() : reader.error();
}

double FileDecoder::secondsRead() const {
    return static_cast<double>(framesRead) / reader.sampleRate();
}

bool FileDecoder::refill() {
    chunkFrames = reader.read(chunk);
    chunkPosition = 0;
    framesRead += static_cast<std::int64_t>(chunkFrames);
    ended = chunkFrames == 0;
    return !ended;
}

bool FileDecoder::next(ChannelBuffers& block, std::size_t frames) {
    const auto channels = static_cast<std::size_t>(reader.channels());
    block.resize(channels);
    for (auto& channel : block) {
        channel.resize(frames);
    }
    std::size_t filled = 0;
    while (filled < frames && error().empty()) {
        if (chunkPosition == chunkFrames && !ended && !refill() && !converter) {
            break;
        }
        const std::size_t available = chunkFrames - chunkPosition;
        const float* in = chunk.data() + chunkPosition * channels;
        if (!converter) {
            const std::size_t count = std::min(available, frames - filled);
            for (std::size_t c = 0; c < channels; ++c) {
                float* out = block[c].data() + filled;
                for (std::size_t i = 0; i < count; ++i) {
                    out[i] = in[i * channels + c];
                }
            }
            chunkPosition += count;
            filled += count;
            continue;
        }
        for (std::size_t c = 0; c < channels; ++c) {
            destinations[c] = block[c].data() + filled;
        }
        // At the end of the file an empty input drains what the converter still holds.
        const RateConverter::Step step =
            converter->process({in, available * channels}, destinations, frames - filled);
        chunkPosition += step.consumed;
        filled += step.produced;
        if (step.produced == 0 && (ended || step.consumed == 0)) {
            break;
        }
    }
    if (!error().empty()) {
        return false;
    }
    for (auto& channel : block) {
        channel.resize(filled);
    }
    return filled > 0;
}

}  // namespace orvinta
