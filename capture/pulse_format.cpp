#include "capture/pulse_format.h"

namespace orvinta {

std::vector<ChannelPosition> channelPositionsFor(const pa_channel_map& channelMap) {
    std::vector<ChannelPosition> positions;
    positions.reserve(channelMap.channels);
    for (unsigned c = 0; c < channelMap.channels; ++c) {
        switch (channelMap.map[c]) {
            case PA_CHANNEL_POSITION_LFE:
                positions.push_back(ChannelPosition::lfe);
                break;
            case PA_CHANNEL_POSITION_REAR_LEFT:
            case PA_CHANNEL_POSITION_SIDE_LEFT:
                positions.push_back(ChannelPosition::surroundLeft);
                break;
            case PA_CHANNEL_POSITION_REAR_RIGHT:
            case PA_CHANNEL_POSITION_SIDE_RIGHT:
                positions.push_back(ChannelPosition::surroundRight);
                break;
            default:
                positions.push_back(ChannelPosition::other);
                break;
        }
    }
    return positions;
}

std::optional<SampleType> sampleTypeFor(pa_sample_format_t format) {
    switch (format) {
        case PA_SAMPLE_U8:
            return SampleType::unsigned8;
        case PA_SAMPLE_S16LE:
            return SampleType::signed16;
        case PA_SAMPLE_S24LE:
            return SampleType::signed24Packed;
        case PA_SAMPLE_S24_32LE:
            return SampleType::signed24In32;
        case PA_SAMPLE_S32LE:
            return SampleType::signed32;
        case PA_SAMPLE_FLOAT32LE:
            return SampleType::float32;
        default:
            return std::nullopt;
    }
}

AudioFormatInfo formatInfoFor(const pa_sample_spec& sampleSpec) {
    AudioFormatInfo info;
    info.sampleRate = static_cast<double>(sampleSpec.rate);
    info.channelCount = sampleSpec.channels;
    switch (sampleSpec.format) {
        case PA_SAMPLE_U8:
            info.bitDepth = 8;
            break;
        case PA_SAMPLE_S16LE:
        case PA_SAMPLE_S16BE:
            info.bitDepth = 16;
            break;
        case PA_SAMPLE_S24LE:
        case PA_SAMPLE_S24BE:
        case PA_SAMPLE_S24_32LE:
        case PA_SAMPLE_S24_32BE:
            info.bitDepth = 24;
            break;
        case PA_SAMPLE_S32LE:
        case PA_SAMPLE_S32BE:
            info.bitDepth = 32;
            break;
        case PA_SAMPLE_FLOAT32LE:
        case PA_SAMPLE_FLOAT32BE:
            info.bitDepth = 32;
            info.isFloatingPoint = true;
            break;
        default:
            // A-law and mu-law carry no linear bit depth.
            break;
    }
    return info;
}

}  // namespace orvinta
