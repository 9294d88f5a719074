// Random format descriptions and byte buffers through one AudioFormatConverter. Each record:
// sample type, 0 ... 64 channels, layout, a rate of 1 Hz ... 768 kHz and up to 64 KiB of data,
// cut into whole frames by the byte count as a capture source would cut it.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "capture/audio_format_converter.h"
#include "tests/fuzz/fuzz_input.h"

using namespace orvinta;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    AudioFormatConverter converter(input.take<std::uint8_t>() % 8 + 1);
    for (int record = 0; record < 16 && input.remaining() > 0; ++record) {
        PcmFormat format;
        format.sampleType = static_cast<SampleType>(input.take<std::uint8_t>() % 7);
        format.channelCount = input.take<std::uint8_t>() % 65;
        format.interleaved = (input.take<std::uint8_t>() & 1) != 0;
        format.sampleRate =
            1.0 + input.take<std::uint32_t>() % 768000 + input.take<std::uint8_t>() / 256.0;
        std::size_t length = input.take<std::uint16_t>();
        const std::uint8_t* bytes = input.bytes(length);

        // Every block in a heap allocation of its exact size, so a read past it is caught.
        const std::size_t frameBytes =
            bytesPerSample(format.sampleType) * static_cast<std::size_t>(format.channelCount);
        const std::size_t frames = frameBytes > 0 ? length / frameBytes : length;
        const std::size_t blockCount =
            format.interleaved ? 1 : static_cast<std::size_t>(format.channelCount);
        const std::size_t blockBytes =
            format.interleaved ? length : frames * bytesPerSample(format.sampleType);
        std::vector<std::vector<std::uint8_t>> blocks;
        std::vector<const void*> pointers;
        for (std::size_t b = 0; b < blockCount; ++b) {
            blocks.emplace_back(bytes + b * blockBytes, bytes + (b + 1) * blockBytes);
            pointers.push_back(blocks.back().data());
        }
        pointers.push_back(nullptr);
        const std::optional<ChannelBuffers> out =
            converter.convert(PcmBuffer{format, frames, pointers.data()});
        if (!out) {
            continue;
        }
        if (out->size() != static_cast<std::size_t>(converter.outputChannelCount())) {
            std::abort();
        }
        for (const std::vector<float>& channel : *out) {
            for (const float sample : channel) {
                if (channel.size() != out->front().size() || !std::isfinite(sample)) {
                    std::abort();
                }
            }
        }
    }
    return 0;
}
