#pragma once

#include <cstddef>
#include <memory>
#include <optional>

#include "measurement/loudness_snapshot.h"

namespace orvinta {

// Sample types a capture source may receive, all little-endian.
enum class SampleType {
    unsigned8,
    signed16,
    signed24Packed,  // three bytes per sample
    signed24In32,    // 24 significant bits in the low three bytes of a 32-bit word
    signed32,
    float32,
    float64,
};

// Bytes one sample of the type takes in a buffer.
std::size_t bytesPerSample(SampleType type);

// How a buffer's samples are described. Two formats are equal when rate, channel count,
// sample type and layout match.
struct PcmFormat {
    double sampleRate = 48000.0;
    int channelCount = 2;
    SampleType sampleType = SampleType::float32;
    bool interleaved = true;

    friend bool operator==(const PcmFormat&, const PcmFormat&) = default;
};

// One input buffer: `frameCount` frames in `format`. Interleaved data is one block at
// `data[0]`; planar data has one block per channel at `data[0] .. data[channelCount - 1]`.
struct PcmBuffer {
    PcmFormat format;
    std::size_t frameCount = 0;
    const void* const* data = nullptr;
};

// Turns any PCM buffer into 32-bit float planar channel arrays at 48 000 Hz with the channel
// count fixed at construction. Owned by one capture source and used only on its delivery
// thread. Defined in audio_format_converter.cpp.
class AudioFormatConverter {
public:
    explicit AudioFormatConverter(int outputChannelCount);
    ~AudioFormatConverter();
    AudioFormatConverter(const AudioFormatConverter&) = delete;
    AudioFormatConverter& operator=(const AudioFormatConverter&) = delete;

    int outputChannelCount() const;

    // The converted frames, or nothing when the format cannot be converted (a failed format
    // is not tried again until the input format changes) or no frame came out.
    std::optional<ChannelBuffers> convert(const PcmBuffer& input);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvinta
