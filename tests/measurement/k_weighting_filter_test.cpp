#include "measurement/k_weighting_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <numbers>
#include <random>
#include <span>
#include <vector>

namespace orvinta {
namespace {

constexpr double kSampleRate = 48000.0;

// The cascade written out once more, straight from the published coefficients: each sample
// widened to double, both sections in double precision, rounded to float at the end.
std::vector<float> referenceCascade(const std::vector<float>& input) {
    struct Section {
        double b0, b1, b2, a1, a2;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        double run(double x) {
            const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = y;
            return y;
        }
    };
    Section shelf{1.53512485958697, -2.69169618940638, 1.19839281085285, -1.69065929318241,
                  0.73248077421585};
    Section highPass{1.0, -2.0, 1.0, -1.99004745483398, 0.99007225036621};
    std::vector<float> output(input.size());
    for (std::size_t i = 0; i < input.size(); ++i) {
        output[i] = static_cast<float>(highPass.run(shelf.run(static_cast<double>(input[i]))));
    }
    return output;
}

std::vector<float> noise(std::size_t frames, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> distribution(-1.0f, 1.0f);
    std::vector<float> samples(frames);
    for (float& s : samples) {
        s = distribution(generator);
    }
    return samples;
}

std::vector<float> sine(double hz, double amplitude, std::size_t frames) {
    std::vector<float> samples(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        samples[i] = static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * hz *
                                                             static_cast<double>(i) / kSampleRate));
    }
    return samples;
}

double rms(std::span<const float> samples) {
    double sum = 0.0;
    for (const float s : samples) {
        sum += static_cast<double>(s) * s;
    }
    return std::sqrt(sum / static_cast<double>(samples.size()));
}

// Filters `input` in consecutive pieces of the given lengths (cycled), all through one filter.
std::vector<float> filterInPieces(const std::vector<float>& input,
                                  const std::vector<std::size_t>& pieces) {
    std::vector<float> output = input;
    KWeightingFilter filter;
    std::size_t start = 0;
    for (std::size_t k = 0; start < output.size(); ++k) {
        const std::size_t length = std::min(pieces[k % pieces.size()], output.size() - start);
        filter.process(std::span<float>(output).subspan(start, length));
        start += length;
    }
    return output;
}

TEST(KWeightingFilter, ResponseMatchesThePublishedCurve) {
    struct Point {
        double hz;
        double gainDB;
        double tolerance;
    };
    // The frequencies fit a whole number of periods into the one-second measuring window.
    const Point points[] = {{20.0, -13.28, 0.01},
                            {100.0, -1.13, 0.01},
                            {997.0, 0.691, 0.002},
                            {2000.0, 3.07, 0.01},
                            {10000.0, 4.04, 0.01}};
    for (const Point& point : points) {
        // Two seconds to settle, then one second measured.
        std::vector<float> samples = sine(point.hz, 0.5, 3 * 48000);
        const double inputRms = rms(std::span<const float>(samples).last(48000));
        KWeightingFilter filter;
        filter.process(samples);
        const double outputRms = rms(std::span<const float>(samples).last(48000));
        EXPECT_NEAR(20.0 * std::log10(outputRms / inputRms), point.gainDB, point.tolerance)
            << point.hz << " Hz";
    }
}

TEST(KWeightingFilter, EqualsTheDoublePrecisionCascadeHoweverTheSignalIsCut) {
    const std::vector<float> input = noise(30000, 2);
    const std::vector<float> whole = referenceCascade(input);
    for (const std::size_t piece : {input.size(), std::size_t{1}, std::size_t{127},
                                    std::size_t{1024}, std::size_t{4095}, std::size_t{4801}}) {
        EXPECT_EQ(filterInPieces(input, {piece}), whole) << "pieces of " << piece;
    }
    // Empty pieces in between leave the state alone.
    EXPECT_EQ(filterInPieces(input, {0, 1, 0, 127, 4801, 0, 1024}), whole) << "mixed pieces";
}

TEST(KWeightingFilter, ChannelsFilteredTogetherMatchChannelsFilteredAlone) {
    // Up to six channels, some of unequal length, in several calls, odd channels in place and
    // even ones into a separate output: every channel must come out exactly as if filtered on
    // its own.
    for (std::size_t channelCount = 1; channelCount <= 6; ++channelCount) {
        std::vector<std::vector<float>> inputs;
        for (std::size_t c = 0; c < channelCount; ++c) {
            inputs.push_back(noise(9000, static_cast<unsigned>(10 + c)));
        }
        std::vector<KWeightingFilter> filters(channelCount);
        std::vector<std::vector<float>> outputs = inputs;
        std::vector<std::size_t> offsets(channelCount, 0);
        // Empty spans leave the state alone.
        KWeightingFilter::processChannels(filters,
                                          std::vector<std::span<const float>>(channelCount),
                                          std::vector<std::span<float>>(channelCount));
        for (int call = 0; call < 6; ++call) {
            std::vector<std::span<const float>> in;
            std::vector<std::span<float>> out;
            for (std::size_t c = 0; c < channelCount; ++c) {
                // Channel 2 runs shorter in the even calls and catches up in the odd ones.
                std::size_t length = 1500;
                if (c == 2) {
                    length = call % 2 == 0 ? 1000 : 2000;
                }
                length = std::min(length, outputs[c].size() - offsets[c]);
                const std::vector<float>& source = c % 2 == 0 ? inputs[c] : outputs[c];
                in.push_back(std::span<const float>(source).subspan(offsets[c], length));
                out.push_back(std::span<float>(outputs[c]).subspan(offsets[c], length));
                offsets[c] += length;
            }
            KWeightingFilter::processChannels(filters, in, out);
        }
        for (std::size_t c = 0; c < channelCount; ++c) {
            const std::vector<float> expected = referenceCascade(std::vector<float>(
                inputs[c].begin(), inputs[c].begin() + static_cast<std::ptrdiff_t>(offsets[c])));
            outputs[c].resize(offsets[c]);
            EXPECT_EQ(outputs[c], expected) << channelCount << " channels, channel " << c;
        }
    }
}

}  // namespace
}  // namespace orvinta
