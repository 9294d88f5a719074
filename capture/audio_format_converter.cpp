#include "capture/audio_format_converter.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "capture/console_log.h"
#include "measurement/loudness_analyzer.h"

// Conversion happens in three steps, all on the owning source's delivery thread:
//
//  1. Decode: every input channel is read into a float plane (scratch kept between buffers).
//     Integers are scaled to full scale 1.0; a non-finite float sample (NaN, +-Inf) becomes 0.0,
//     because one NaN would otherwise poison the analyzer's filter state for the rest of the run.
//  2. Map channels to the output count fixed at construction:
//       - same count: channel for channel;
//       - mono input: the one channel is copied to every output channel;
//       - mono output: the average of all input channels;
//       - otherwise: the first channels are kept in order, further input channels are dropped
//         and output channels without an input stay silent.
//  3. Resample to 48 000 Hz with libsoxr (high quality, linear phase). Input already at
//     48 000 Hz is copied through without any filtering. The resampler is built once per input
//     format and keeps its history between buffers; a format change rebuilds it and drops what
//     the old one still held.

namespace orvinta {

namespace {

constexpr double kOutputSampleRate = LoudnessAnalyzer::sampleRate;
// More channels than any sound server delivers in one stream; protects the scratch sizes.
constexpr int kMaxChannelCount = 64;
constexpr int kMaxResampleRounds = 64;
constexpr std::size_t kCapacityMarginFrames = 64;
// A delivered buffer holds milliseconds of audio; one that would become more than ten seconds
// at 48 kHz (a 1 Hz rate, a corrupt frame count) is refused instead of allocated.
constexpr double kMaxOutputFramesPerBuffer = 10.0 * 48000.0;

const char* sampleTypeName(SampleType type) {
    switch (type) {
        case SampleType::unsigned8:
            return "u8";
        case SampleType::signed16:
            return "s16";
        case SampleType::signed24Packed:
            return "s24";
        case SampleType::signed24In32:
            return "s24-32";
        case SampleType::signed32:
            return "s32";
        case SampleType::float32:
            return "f32";
        case SampleType::float64:
            return "f64";
    }
    return "unknown";
}

std::string describeFormat(const PcmFormat& format) {
    char text[160];
    std::snprintf(text, sizeof text, "%g Hz, %d channels, %s %s", format.sampleRate,
                  format.channelCount, sampleTypeName(format.sampleType),
                  format.interleaved ? "interleaved" : "planar");
    return text;
}

// Sample readers: `p` points at one little-endian sample. memcpy keeps unaligned reads defined.
inline float readSample(SampleType type, const unsigned char* p) {
    switch (type) {
        case SampleType::unsigned8:
            return (static_cast<float>(p[0]) - 128.0f) * (1.0f / 128.0f);
        case SampleType::signed16: {
            const auto v = static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0]) |
                                                     (static_cast<std::uint16_t>(p[1]) << 8));
            return static_cast<float>(v) * (1.0f / 32768.0f);
        }
        case SampleType::signed24Packed: {
            const std::uint32_t u = static_cast<std::uint32_t>(p[0]) |
                                    (static_cast<std::uint32_t>(p[1]) << 8) |
                                    (static_cast<std::uint32_t>(p[2]) << 16);
            // Sign-extend from bit 23.
            const auto v = static_cast<std::int32_t>(u << 8) >> 8;
            return static_cast<float>(v) * (1.0f / 8388608.0f);
        }
        case SampleType::signed24In32: {
            // The top byte is padding (zero or a sign copy); only the low 24 bits count.
            const std::uint32_t u = static_cast<std::uint32_t>(p[0]) |
                                    (static_cast<std::uint32_t>(p[1]) << 8) |
                                    (static_cast<std::uint32_t>(p[2]) << 16);
            const auto v = static_cast<std::int32_t>(u << 8) >> 8;
            return static_cast<float>(v) * (1.0f / 8388608.0f);
        }
        case SampleType::signed32: {
            std::uint32_t u;
            std::memcpy(&u, p, 4);
            return static_cast<float>(static_cast<double>(static_cast<std::int32_t>(u)) *
                                      (1.0 / 2147483648.0));
        }
        case SampleType::float32: {
            float v;
            std::memcpy(&v, p, 4);
            return std::isfinite(v) ? v : 0.0f;
        }
        case SampleType::float64: {
            double d;
            std::memcpy(&d, p, 8);
            // A finite double beyond float range turns into an infinity here, and then into 0.
            const auto v = static_cast<float>(d);
            return std::isfinite(v) ? v : 0.0f;
        }
    }
    return 0.0f;
}

// Reads `frames` samples that lie `stride` bytes apart into `out`. The switch sits outside
// the loop so each loop body is a simple, fixed conversion.
void decodeChannel(SampleType type, const unsigned char* first, std::size_t stride,
                   std::size_t frames, float* out) {
    switch (type) {
#define ORVINTA_DECODE_LOOP(TYPE)                          \
    case TYPE:                                             \
        for (std::size_t i = 0; i < frames; ++i) {         \
            out[i] = readSample(TYPE, first + i * stride); \
        }                                                  \
        break;
        ORVINTA_DECODE_LOOP(SampleType::unsigned8)
        ORVINTA_DECODE_LOOP(SampleType::signed16)
        ORVINTA_DECODE_LOOP(SampleType::signed24Packed)
        ORVINTA_DECODE_LOOP(SampleType::signed24In32)
        ORVINTA_DECODE_LOOP(SampleType::signed32)
        ORVINTA_DECODE_LOOP(SampleType::float32)
        ORVINTA_DECODE_LOOP(SampleType::float64)
#undef ORVINTA_DECODE_LOOP
    }
}

struct SoxrDeleter {
    void operator()(soxr* resampler) const { soxr_delete(resampler); }
};
using SoxrHandle = std::unique_ptr<soxr, SoxrDeleter>;

// Format equality that also treats two NaN rates as the same, so a broken format is reported
// and given up once rather than rebuilt for every buffer.
bool sameFormat(const PcmFormat& a, const PcmFormat& b) {
    const bool sameRate =
        a.sampleRate == b.sampleRate || (std::isnan(a.sampleRate) && std::isnan(b.sampleRate));
    return sameRate && a.channelCount == b.channelCount && a.sampleType == b.sampleType &&
           a.interleaved == b.interleaved;
}

}  // namespace

std::size_t bytesPerSample(SampleType type) {
    switch (type) {
        case SampleType::unsigned8:
            return 1;
        case SampleType::signed16:
            return 2;
        case SampleType::signed24Packed:
            return 3;
        case SampleType::signed24In32:
        case SampleType::signed32:
        case SampleType::float32:
            return 4;
        case SampleType::float64:
            return 8;
    }
    return 0;
}

struct AudioFormatConverter::Impl {
    explicit Impl(int channels) : outputChannelCount(std::max(channels, 1)) {
        outputPlanes.resize(static_cast<std::size_t>(outputChannelCount));
        resampleInput.resize(static_cast<std::size_t>(outputChannelCount));
        resampleOutput.resize(static_cast<std::size_t>(outputChannelCount));
    }

    const int outputChannelCount;

    // The input format the current conversion was built for, and whether that build worked.
    std::optional<PcmFormat> lastInputFormat;
    bool converterReady = false;
    // Absent when the input is already at 48 000 Hz: those samples pass through untouched.
    SoxrHandle resampler;

    // Scratch reused from buffer to buffer: one decoded plane per input channel, a silent plane
    // for output channels without an input, and the per-output-channel pointers into them.
    std::vector<std::vector<float>> inputPlanes;
    std::vector<float> silentPlane;
    std::vector<const float*> outputPlanes;
    std::vector<const float*> resampleInput;
    std::vector<float*> resampleOutput;

    bool build(const PcmFormat& format);
    bool decodeAndMap(const PcmBuffer& input);
    std::optional<ChannelBuffers> resample(std::size_t frames);
    std::optional<ChannelBuffers> passThrough(std::size_t frames) const;
};

bool AudioFormatConverter::Impl::build(const PcmFormat& format) {
    resampler.reset();
    const bool usable = std::isfinite(format.sampleRate) && format.sampleRate >= 1.0 &&
                        format.channelCount >= 1 && format.channelCount <= kMaxChannelCount &&
                        bytesPerSample(format.sampleType) != 0;
    if (!usable) {
        printLogLine("[Tessaro] AudioFormatConverter: cannot convert " + describeFormat(format));
        return false;
    }
    inputPlanes.resize(static_cast<std::size_t>(format.channelCount));
    if (format.sampleRate == kOutputSampleRate) {
        return true;
    }

    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    // One worker thread: the conversion stays on the source's delivery thread.
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    soxr_t created =
        soxr_create(format.sampleRate, kOutputSampleRate, static_cast<unsigned>(outputChannelCount),
                    &error, &io, &quality, &runtime);
    if (error != nullptr || created == nullptr) {
        if (created != nullptr) {
            soxr_delete(created);
        }
        printLogLine("[Tessaro] AudioFormatConverter: cannot convert " + describeFormat(format) +
                     " (" + (error != nullptr ? error : "resampler unavailable") + ")");
        return false;
    }
    resampler.reset(created);
    return true;
}

bool AudioFormatConverter::Impl::decodeAndMap(const PcmBuffer& input) {
    const PcmFormat& format = input.format;
    const std::size_t frames = input.frameCount;
    const auto inChannels = static_cast<std::size_t>(format.channelCount);
    const auto outChannels = static_cast<std::size_t>(outputChannelCount);
    const std::size_t sampleBytes = bytesPerSample(format.sampleType);

    if (input.data == nullptr) {
        return false;
    }
    const std::size_t blocks = format.interleaved ? 1 : inChannels;
    for (std::size_t b = 0; b < blocks; ++b) {
        if (input.data[b] == nullptr) {
            return false;
        }
    }

    for (std::size_t c = 0; c < inChannels; ++c) {
        std::vector<float>& plane = inputPlanes[c];
        plane.resize(frames);
        const unsigned char* first;
        std::size_t stride;
        if (format.interleaved) {
            first = static_cast<const unsigned char*>(input.data[0]) + c * sampleBytes;
            stride = sampleBytes * inChannels;
        } else {
            first = static_cast<const unsigned char*>(input.data[c]);
            stride = sampleBytes;
        }
        decodeChannel(format.sampleType, first, stride, frames, plane.data());
    }

    if (inChannels == outChannels) {
        for (std::size_t c = 0; c < outChannels; ++c) {
            outputPlanes[c] = inputPlanes[c].data();
        }
    } else if (inChannels == 1) {
        std::fill(outputPlanes.begin(), outputPlanes.end(), inputPlanes[0].data());
    } else if (outChannels == 1) {
        float* mix = inputPlanes[0].data();
        for (std::size_t c = 1; c < inChannels; ++c) {
            const float* other = inputPlanes[c].data();
            for (std::size_t i = 0; i < frames; ++i) {
                mix[i] += other[i];
            }
        }
        const float scale = 1.0f / static_cast<float>(inChannels);
        for (std::size_t i = 0; i < frames; ++i) {
            mix[i] *= scale;
        }
        outputPlanes[0] = mix;
    } else {
        silentPlane.assign(frames, 0.0f);
        for (std::size_t c = 0; c < outChannels; ++c) {
            outputPlanes[c] = c < inChannels ? inputPlanes[c].data() : silentPlane.data();
        }
    }
    return true;
}

std::optional<ChannelBuffers> AudioFormatConverter::Impl::passThrough(std::size_t frames) const {
    if (frames == 0) {
        return std::nullopt;
    }
    ChannelBuffers result(outputPlanes.size());
    for (std::size_t c = 0; c < outputPlanes.size(); ++c) {
        result[c].assign(outputPlanes[c], outputPlanes[c] + frames);
    }
    return result;
}

std::optional<ChannelBuffers> AudioFormatConverter::Impl::resample(std::size_t frames) {
    const double inputRate = std::max(lastInputFormat->sampleRate, 1.0);
    const double ratio = kOutputSampleRate / inputRate;
    const double expectedFrames = ratio * static_cast<double>(frames);
    if (!(expectedFrames <= kMaxOutputFramesPerBuffer)) {
        return std::nullopt;
    }
    std::size_t capacity = static_cast<std::size_t>(expectedFrames) + kCapacityMarginFrames;

    ChannelBuffers result(outputPlanes.size());
    for (auto& channel : result) {
        channel.resize(capacity);
    }

    std::size_t consumed = 0;
    std::size_t produced = 0;
    for (int round = 0; round < kMaxResampleRounds; ++round) {
        if (produced == capacity) {
            capacity += capacity / 2 + kCapacityMarginFrames;
            for (auto& channel : result) {
                channel.resize(capacity);
            }
        }
        // Point both plane lists at the unconsumed input and the free output space.
        for (std::size_t c = 0; c < result.size(); ++c) {
            resampleInput[c] = outputPlanes[c] + consumed;
            resampleOutput[c] = result[c].data() + produced;
        }
        std::size_t inputDone = 0;
        std::size_t outputDone = 0;
        const soxr_error_t error =
            soxr_process(resampler.get(), resampleInput.data(), frames - consumed, &inputDone,
                         resampleOutput.data(), capacity - produced, &outputDone);
        if (error != nullptr) {
            break;
        }
        consumed += inputDone;
        produced += outputDone;
        // Done once all input is in and the resampler had room to spare: it holds no more
        // output that it could give now (the rest waits for the next buffer's samples).
        if (consumed == frames && produced < capacity) {
            break;
        }
    }

    if (produced == 0) {
        return std::nullopt;
    }
    for (auto& channel : result) {
        channel.resize(produced);
    }
    return result;
}

AudioFormatConverter::AudioFormatConverter(int outputChannelCount)
    : impl_(std::make_unique<Impl>(outputChannelCount)) {}

AudioFormatConverter::~AudioFormatConverter() = default;

int AudioFormatConverter::outputChannelCount() const {
    return impl_->outputChannelCount;
}

std::optional<ChannelBuffers> AudioFormatConverter::convert(const PcmBuffer& input) {
    Impl& d = *impl_;
    if (!d.lastInputFormat || !sameFormat(*d.lastInputFormat, input.format)) {
        d.lastInputFormat = input.format;
        d.converterReady = d.build(input.format);
    }
    if (!d.converterReady || input.frameCount == 0) {
        return std::nullopt;
    }
    if (!d.decodeAndMap(input)) {
        return std::nullopt;
    }
    if (!d.resampler) {
        return d.passThrough(input.frameCount);
    }
    return d.resample(input.frameCount);
}

}  // namespace orvinta
