#pragma once

#include <span>
#include <vector>

namespace orvinta {

// Where a channel sits around the listener, as far as loudness weighting cares. Sources that
// know their channel map (the sound server's, a file's channel mask) name each channel's place;
// the analyzer weights the channels from it.
enum class ChannelPosition {
    other,          // any position counted at full weight: front left/right/centre, top, aux…
    lfe,            // low-frequency effects: not counted
    surroundLeft,   // rear or side left
    surroundRight,  // rear or side right
};

// BS.1770-4 channel weight: the LFE channel is not counted, the left and right surrounds (rear
// or side) count +1.5 dB (×1.41), every other channel counts 1.0.
constexpr double channelWeight(ChannelPosition position) {
    switch (position) {
        case ChannelPosition::lfe:
            return 0.0;
        case ChannelPosition::surroundLeft:
        case ChannelPosition::surroundRight:
            return 1.41;
        case ChannelPosition::other:
            break;
    }
    return 1.0;
}

inline std::vector<double> channelWeights(std::span<const ChannelPosition> positions) {
    std::vector<double> weights;
    weights.reserve(positions.size());
    for (const ChannelPosition position : positions) {
        weights.push_back(channelWeight(position));
    }
    return weights;
}

}  // namespace orvinta
