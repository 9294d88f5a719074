#pragma once

#include <pulse/pulseaudio.h>

#include <optional>
#include <vector>

#include "capture/audio_format_converter.h"
#include "capture/audio_format_info.h"
#include "measurement/channel_position.h"

// How the sound server's sample specs and channel maps read for the converter, the analyzer and
// the user.
namespace orvinta {

// Where each channel of a server channel map sits, for loudness weighting: LFE, rear and side
// left and right are the surrounds' places; everything else counts at full weight.
std::vector<ChannelPosition> channelPositionsFor(const pa_channel_map& channelMap);

// The sample type the converter reads for a server sample format, or nothing when the
// converter cannot read it (big-endian formats, A-law, mu-law).
std::optional<SampleType> sampleTypeFor(pa_sample_format_t format);

// The format description shown to the user for a server sample spec: rate, bits (u8 8,
// s16 16, s24 and s24-32 24, s32 32, float32 32 float), channels.
AudioFormatInfo formatInfoFor(const pa_sample_spec& sampleSpec);

}  // namespace orvinta
