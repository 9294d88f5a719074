#include "capture/audio_format_converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "measurement/loudness_analyzer.h"
#include "tests/support/captured_log.h"

namespace orvinta {
namespace {

// Holds the bytes of one input buffer and the pointer table a PcmBuffer refers to.
struct OwnedBuffer {
    PcmFormat format;
    std::size_t frameCount = 0;
    std::vector<std::vector<unsigned char>> blocks;
    std::vector<const void*> pointers;

    PcmBuffer view() {
        pointers.clear();
        for (const auto& block : blocks) {
            pointers.push_back(block.data());
        }
        return PcmBuffer{format, frameCount, pointers.data()};
    }
};

template <typename T>
void appendValue(std::vector<unsigned char>& bytes, T value) {
    unsigned char raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    bytes.insert(bytes.end(), raw, raw + sizeof(T));
}

// Samples per channel encoded as `T` (float, double or 16-bit integer), interleaved or planar.
template <typename T>
OwnedBuffer makeBuffer(const std::vector<std::vector<double>>& channels, double rate,
                       bool interleaved) {
    OwnedBuffer b;
    const SampleType type = std::is_same_v<T, float>    ? SampleType::float32
                            : std::is_same_v<T, double> ? SampleType::float64
                                                        : SampleType::signed16;
    b.format = PcmFormat{rate, static_cast<int>(channels.size()), type, interleaved};
    b.frameCount = channels.front().size();
    const auto encode = [](double v) {
        if constexpr (std::is_integral_v<T>) {
            return static_cast<T>(std::lround(std::clamp(v, -1.0, 32767.0 / 32768.0) * 32768.0));
        } else {
            return static_cast<T>(v);
        }
    };
    b.blocks.resize(interleaved ? 1 : channels.size());
    for (std::size_t i = 0; i < b.frameCount; ++i) {
        for (std::size_t c = 0; c < channels.size(); ++c) {
            appendValue(b.blocks[interleaved ? 0 : c], encode(channels[c][i]));
        }
    }
    return b;
}

OwnedBuffer floatBuffer(const std::vector<std::vector<double>>& channels, double rate,
                        bool interleaved) {
    return makeBuffer<float>(channels, rate, interleaved);
}

// One mono buffer of raw bytes in any sample type at 48 kHz (no resampling).
OwnedBuffer rawMono(SampleType type, std::vector<unsigned char> bytes, std::size_t frames) {
    OwnedBuffer b;
    b.format = PcmFormat{48000.0, 1, type, true};
    b.frameCount = frames;
    b.blocks.push_back(std::move(bytes));
    return b;
}

std::vector<double> sine(double frequency, double amplitude, double rate, std::size_t start,
                         std::size_t frames) {
    std::vector<double> samples(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        samples[i] = amplitude * std::sin(2.0 * std::numbers::pi * frequency *
                                          static_cast<double>(start + i) / rate);
    }
    return samples;
}

// Least-squares fit of a 1 kHz sinusoid over whole periods at 48 kHz (48 samples each):
// returns the fitted amplitude and the RMS of what the fit leaves over.
struct SineFit {
    double amplitude;
    double residualRms;
};

SineFit fit1kHz(const std::vector<float>& x, std::size_t from, std::size_t periods) {
    const std::size_t n = periods * 48;
    double s = 0.0;
    double c = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double phase = 2.0 * std::numbers::pi * static_cast<double>(i) / 48.0;
        s += x[from + i] * std::sin(phase);
        c += x[from + i] * std::cos(phase);
    }
    s *= 2.0 / static_cast<double>(n);
    c *= 2.0 / static_cast<double>(n);
    double residual = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double phase = 2.0 * std::numbers::pi * static_cast<double>(i) / 48.0;
        const double e = x[from + i] - (s * std::sin(phase) + c * std::cos(phase));
        residual += e * e;
    }
    return {std::hypot(s, c), std::sqrt(residual / static_cast<double>(n))};
}

void appendTo(ChannelBuffers& all, const ChannelBuffers& part) {
    if (all.empty()) {
        all.resize(part.size());
    }
    ASSERT_EQ(all.size(), part.size());
    for (std::size_t c = 0; c < part.size(); ++c) {
        all[c].insert(all[c].end(), part[c].begin(), part[c].end());
    }
}

TEST(AudioFormatConverter, FloatPlanarAt48kHzPassesThroughUnchanged) {
    AudioFormatConverter converter(2);
    std::vector<double> left{0.5, -0.25, 1.5, 0.0, -1.0, 0.123456789};
    std::vector<double> right{-0.5, 0.75, 0.0, 2.0, 1e-8, -0.999};
    auto input = floatBuffer({left, right}, 48000.0, false);
    const auto out = converter.convert(input.view());
    ASSERT_TRUE(out);
    ASSERT_EQ(out->size(), 2u);
    for (std::size_t i = 0; i < left.size(); ++i) {
        EXPECT_EQ((*out)[0][i], static_cast<float>(left[i]));
        EXPECT_EQ((*out)[1][i], static_cast<float>(right[i]));
    }
}

TEST(AudioFormatConverter, IntegerFormatsScaleToFullScaleOne) {
    struct Case {
        SampleType type;
        std::vector<unsigned char> bytes;
        std::vector<float> expected;
    };
    const std::vector<Case> cases{
        {SampleType::unsigned8, {0x00, 0x80, 0xC0, 0xFF}, {-1.0f, 0.0f, 0.5f, 127.0f / 128.0f}},
        {SampleType::signed16,
         {0x00, 0x80, 0x00, 0x00, 0x00, 0x40, 0xFF, 0x7F},
         {-1.0f, 0.0f, 0.5f, 32767.0f / 32768.0f}},
        {SampleType::signed24Packed,
         {0x00, 0x00, 0x80, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x40, 0x01, 0x00, 0x00},
         {-1.0f, -0.5f, 0.5f, 1.0f / 8388608.0f}},
        // The top byte of each word is padding and must not change the value.
        {SampleType::signed24In32,
         {0x00, 0x00, 0x80, 0xFF, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x40, 0xAB, 0xFF, 0xFF, 0xFF,
          0x00},
         {-1.0f, -0.5f, 0.5f, -1.0f / 8388608.0f}},
        {SampleType::signed32,
         {0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
          0xE0},
         {-1.0f, 0.5f, 0.0f, -0.25f}},
    };
    for (const auto& c : cases) {
        AudioFormatConverter converter(1);
        auto input = rawMono(c.type, c.bytes, c.expected.size());
        const auto out = converter.convert(input.view());
        ASSERT_TRUE(out) << static_cast<int>(c.type);
        ASSERT_EQ(out->size(), 1u);
        EXPECT_EQ((*out)[0], c.expected) << static_cast<int>(c.type);
    }
}

TEST(AudioFormatConverter, NonFiniteSamplesBecomeSilence) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    {
        AudioFormatConverter converter(1);
        auto input = floatBuffer({{0.5, nan, inf, -inf, 0.25}}, 48000.0, true);
        const auto out = converter.convert(input.view());
        ASSERT_TRUE(out);
        EXPECT_EQ((*out)[0], (std::vector<float>{0.5f, 0.0f, 0.0f, 0.0f, 0.25f}));
    }
    {
        // A double beyond float range would turn into an infinity on narrowing.
        AudioFormatConverter converter(1);
        auto input = makeBuffer<double>({{nan, 1e300, -inf, 0.5, -0.75}}, 48000.0, true);
        const auto out = converter.convert(input.view());
        ASSERT_TRUE(out);
        EXPECT_EQ((*out)[0], (std::vector<float>{0.0f, 0.0f, 0.0f, 0.5f, -0.75f}));
    }
}

// One NaN reaching the K-weighting filters would leave every later reading NaN for the rest of
// the run; through converter and analyzer the readings stay finite and correct.
TEST(AudioFormatConverter, NonFiniteCaptureLeavesLoudnessReadingsFinite) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double amplitude = std::pow(10.0, -20.0 / 20.0);
    AudioFormatConverter converter(2);
    LoudnessAnalyzer analyzer(2);
    LoudnessSnapshot snapshot;
    const std::size_t block = 1024;
    for (std::size_t start = 0; start < 4 * 44100; start += block) {
        auto left = sine(1000.0, amplitude, 44100.0, start, block);
        auto right = left;
        if (start / block == 50) {
            left[3] = nan;
            right[500] = inf;
            left[900] = -inf;
        }
        auto input = floatBuffer({left, right}, 44100.0, true);
        if (auto out = converter.convert(input.view())) {
            snapshot = analyzer.process(*out);
        }
    }
    EXPECT_NEAR(snapshot.momentaryLUFS, -20.0, 0.1);
    EXPECT_NEAR(snapshot.shortTermLUFS, -20.0, 0.1);
    EXPECT_NEAR(snapshot.integratedLUFS, -20.0, 0.1);
    ASSERT_EQ(snapshot.truePeakDBTP.size(), 2u);
    EXPECT_TRUE(std::isfinite(snapshot.maxTruePeakDBTP[0]));
    EXPECT_LT(snapshot.maxTruePeakDBTP[1], -19.0);
}

TEST(AudioFormatConverter, ChannelCountsAreMappedOntoTheOutput) {
    const std::vector<double> a{0.5, -0.5, 0.25};
    const std::vector<double> b{0.25, 0.5, -0.75};
    const std::vector<float> af{0.5f, -0.5f, 0.25f};
    const std::vector<float> bf{0.25f, 0.5f, -0.75f};
    const std::vector<float> zeros(3, 0.0f);
    struct Case {
        std::vector<std::vector<double>> in;
        ChannelBuffers out;
    };
    const Case cases[] = {
        {{a}, {af, af, af}},                  // mono input fills every output channel
        {{a, b}, {{0.375f, 0.0f, -0.25f}}},   // a mono output hears the average
        {{a, b, {1.0, 1.0, 1.0}}, {af, bf}},  // more inputs: the first ones in order
        {{a, b}, {af, bf, zeros, zeros}},     // fewer inputs: the extra outputs are silent
    };
    for (const Case& c : cases) {
        AudioFormatConverter converter(static_cast<int>(c.out.size()));
        auto input = floatBuffer(c.in, 48000.0, c.in.size() != 2);
        const auto out = converter.convert(input.view());
        ASSERT_TRUE(out);
        EXPECT_EQ(*out, c.out) << c.in.size() << " in, " << c.out.size() << " out";
    }
}

// Feeds a 1 kHz sine at `rate` through the converter in uneven blocks and checks that the
// output is that sine at 48 kHz: same level within 0.01 dB, nothing else of note, and as many
// frames as the rate ratio says, less the resampler's latency.
void expectSineSurvivesResampling(double rate, SampleType type, bool interleaved) {
    SCOPED_TRACE(testing::Message() << rate << " Hz, type " << static_cast<int>(type)
                                    << (interleaved ? " interleaved" : " planar"));
    const double amplitude = std::pow(10.0, -20.0 / 20.0);
    const std::size_t totalIn = static_cast<std::size_t>(rate);  // one second
    const std::vector<std::size_t> blockSizes{1, 127, 480, 1024, 4095, 4801};
    AudioFormatConverter converter(2);
    ChannelBuffers all;
    std::size_t position = 0;
    std::size_t round = 0;
    while (position < totalIn) {
        const std::size_t n = std::min(blockSizes[round++ % blockSizes.size()], totalIn - position);
        const auto left = sine(1000.0, amplitude, rate, position, n);
        OwnedBuffer input = type == SampleType::signed16
                                ? makeBuffer<std::int16_t>({left, left}, rate, interleaved)
                                : floatBuffer({left, left}, rate, interleaved);
        position += n;
        if (auto out = converter.convert(input.view())) {
            ASSERT_EQ(out->size(), 2u);
            ASSERT_EQ((*out)[0].size(), (*out)[1].size());
            appendTo(all, *out);
        }
    }
    ASSERT_EQ(all.size(), 2u);
    // One second in gives 48 000 frames out, less what the resampler still holds.
    EXPECT_LE(all[0].size(), 48000u);
    EXPECT_GE(all[0].size(), 48000u - 2400u);

    // Fit over 0.5 s well away from the start-up transient.
    const SineFit fit = fit1kHz(all[0], 9600, 500);
    const double levelErrorDb = 20.0 * std::log10(fit.amplitude / amplitude);
    EXPECT_NEAR(levelErrorDb, 0.0, 0.01);
    const double floorDb = 20.0 * std::log10(fit.residualRms / (amplitude / std::sqrt(2.0)));
    EXPECT_LT(floorDb, type == SampleType::signed16 ? -70.0 : -90.0);
    EXPECT_EQ(all[0], all[1]);
}

TEST(AudioFormatConverter, ResamplesCommonRatesTo48kHzKeepingLevelAndFrameCount) {
    for (double rate : {44100.0, 96000.0, 192000.0}) {
        expectSineSurvivesResampling(rate, SampleType::float32, false);
    }
    expectSineSurvivesResampling(44100.0, SampleType::signed16, true);
    expectSineSurvivesResampling(22050.0, SampleType::float32, true);
}

// The resampler works in blocks of its own, so single buffers come out lumpy; over time the
// output must follow the input exactly, short only by the resampler's fixed latency.
TEST(AudioFormatConverter, OutputFollowsTheInputRateWithABoundedLatency) {
    AudioFormatConverter converter(1);
    std::size_t totalOut = 0;
    for (int block = 1; block <= 500; ++block) {
        auto input =
            floatBuffer({sine(1000.0, 0.1, 44100.0, (block - 1) * 441, 441)}, 44100.0, true);
        const auto out = converter.convert(input.view());
        totalOut += out ? (*out)[0].size() : 0;
        const std::size_t expected = static_cast<std::size_t>(block) * 480;
        ASSERT_LE(totalOut, expected) << "block " << block;
        if (block >= 10) {
            // At most 30 ms behind, at any buffer.
            ASSERT_GE(totalOut + 1440, expected) << "block " << block;
        }
    }
}

TEST(AudioFormatConverter, UnconvertibleFormatYieldsNothingAndIsNotRetried) {
    AudioFormatConverter converter(2);
    const auto samples = sine(1000.0, 0.5, 44100.0, 0, 441);
    auto bad = floatBuffer({samples, samples}, 0.0, true);
    auto good = floatBuffer({samples, samples}, 44100.0, true);

    testing::internal::CaptureStdout();
    EXPECT_FALSE(converter.convert(bad.view()));
    EXPECT_FALSE(converter.convert(bad.view()));
    EXPECT_FALSE(converter.convert(bad.view()));
    std::string log = test::capturedLog();
    // One attempt, one report, however many buffers follow in that format.
    EXPECT_EQ(log,
              "[Tessaro] AudioFormatConverter: cannot convert 0 Hz, 2 channels, f32 "
              "interleaved\n");

    // A new format is tried afresh; going back to the broken one fails (and reports) again.
    for (int i = 0; i < 20 && !converter.convert(good.view()); ++i) {
    }
    EXPECT_TRUE(converter.convert(good.view()));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(converter.convert(bad.view()));
    EXPECT_FALSE(converter.convert(bad.view()));
    log = test::capturedLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);

    // Other impossible formats: no channels, a NaN rate.
    testing::internal::CaptureStdout();
    auto noChannels = good;
    noChannels.format.channelCount = 0;
    EXPECT_FALSE(converter.convert(noChannels.view()));
    auto nanRate = good;
    nanRate.format.sampleRate = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(converter.convert(nanRate.view()));
    EXPECT_FALSE(converter.convert(nanRate.view()));
    log = test::capturedLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
}

TEST(AudioFormatConverter, EmptyMissingOrAbsurdlyLongDataYieldsNothing) {
    AudioFormatConverter converter(2);
    auto input = floatBuffer({{0.5}, {0.5}}, 48000.0, false);
    PcmBuffer empty = input.view();
    empty.frameCount = 0;
    EXPECT_FALSE(converter.convert(empty));
    PcmBuffer noData = input.view();
    noData.data = nullptr;
    EXPECT_FALSE(converter.convert(noData));
    const void* holes[2] = {input.blocks[0].data(), nullptr};
    PcmBuffer missingChannel = input.view();
    missingChannel.data = holes;
    EXPECT_FALSE(converter.convert(missingChannel));
    // 200 000 frames at 1 Hz would be days at 48 kHz: refused, not allocated.
    AudioFormatConverter slow(2);
    const std::vector<double> long1Hz(200'000, 0.5);
    auto absurd = floatBuffer({long1Hz, long1Hz}, 1.0, false);
    EXPECT_FALSE(slow.convert(absurd.view()));
    // None of that spoils the converter for good buffers.
    EXPECT_TRUE(converter.convert(input.view()));
}

}  // namespace
}  // namespace orvinta
