#pragma once

// Test signals and a feeding helper shared by the measurement tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "measurement/loudness_analyzer.h"

namespace orvinta::testing {

inline constexpr double kRate = 48000.0;
inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr std::size_t kFramesPerSecond = 48000;

inline double dbToAmplitude(double db) {
    return std::pow(10.0, db / 20.0);
}

// Within `tolerance` of `expected`, or the same infinity.
inline ::testing::AssertionResult near(double actual, double expected, double tolerance) {
    if (actual == expected || std::abs(actual - expected) <= tolerance) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << actual << " is not " << expected;
}

// Uniform white noise in [-amplitude, amplitude], the same for the same seed.
inline std::vector<float> noise(std::size_t frames, unsigned seed, float amplitude = 1.0f) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> distribution(-amplitude, amplitude);
    std::vector<float> samples(frames);
    for (float& s : samples) {
        s = distribution(generator);
    }
    return samples;
}

// A sine of `hz` starting at `phase` radians.
inline std::vector<float> sine(double hz, double amplitude, std::size_t frames,
                               double phase = 0.0) {
    std::vector<float> samples(frames);
    for (std::size_t n = 0; n < frames; ++n) {
        samples[n] = static_cast<float>(
            amplitude *
            std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(n) / kRate + phase));
    }
    return samples;
}

// A sine whose phase runs on from one piece to the next.
class Sine {
public:
    explicit Sine(double hz) : step(2.0 * std::numbers::pi * hz / kRate) {}

    std::vector<float> next(std::size_t frames, double amplitude) {
        std::vector<float> samples(frames);
        for (float& s : samples) {
            s = static_cast<float>(amplitude * std::sin(phase));
            phase = std::fmod(phase + step, 2.0 * std::numbers::pi);
        }
        return samples;
    }

private:
    double step;
    double phase = 0.0;
};

// Cuts planar channels into blocks of `blockFrames` and feeds them in order; returns the
// snapshot of the last call. `loudest`, when given, gets the highest momentary loudness of all
// the snapshots returned.
inline LoudnessSnapshot feed(LoudnessAnalyzer& analyzer,
                             const std::vector<std::vector<float>>& channels,
                             std::size_t blockFrames, double* loudest = nullptr) {
    LoudnessSnapshot snapshot;
    const std::size_t frames = channels.front().size();
    ChannelBuffers block(channels.size());
    for (std::size_t start = 0; start < frames; start += blockFrames) {
        const std::size_t length = std::min(blockFrames, frames - start);
        for (std::size_t c = 0; c < channels.size(); ++c) {
            const auto begin = channels[c].begin() + static_cast<std::ptrdiff_t>(start);
            block[c].assign(begin, begin + static_cast<std::ptrdiff_t>(length));
        }
        snapshot = analyzer.process(block);
        if (loudest) {
            *loudest = std::max(*loudest, snapshot.momentaryLUFS);
        }
    }
    return snapshot;
}

}  // namespace orvinta::testing
