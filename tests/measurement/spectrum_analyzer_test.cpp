#include "measurement/spectrum_analyzer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numbers>
#include <random>
#include <span>
#include <vector>

namespace orvinta {
namespace {

constexpr int kSize = 4096;
constexpr double kRate = 48000.0;
constexpr double kBinWidthHz = kRate / kSize;

std::vector<float> noise(std::size_t count, unsigned seed, float amplitude = 0.5f) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> distribution(-amplitude, amplitude);
    std::vector<float> samples(count);
    for (float& sample : samples) {
        sample = distribution(generator);
    }
    return samples;
}

std::vector<float> sine(double frequencyHz, double amplitude, std::size_t count) {
    std::vector<float> samples(count);
    for (std::size_t n = 0; n < count; ++n) {
        samples[n] = static_cast<float>(amplitude *
                                        std::sin(2.0 * std::numbers::pi * frequencyHz * n / kRate));
    }
    return samples;
}

// Power values of the last kSize samples straight from the DFT's definition, in double precision:
// m_k = 4 |X_k|^2, with the Nyquist term folded into bin 0.
std::vector<double> naivePowerValues(std::span<const float> signal) {
    const auto window = signal.last(kSize);
    std::vector<double> cosines(kSize);
    std::vector<double> sines(kSize);
    std::vector<double> windowed(kSize);
    for (int n = 0; n < kSize; ++n) {
        const double angle = 2.0 * std::numbers::pi * n / kSize;
        cosines[n] = std::cos(angle);
        sines[n] = std::sin(angle);
        windowed[n] = window[n] * 0.8165 * (1.0 - std::cos(angle));
    }
    const auto transform = [&](int k) {
        double re = 0.0;
        double im = 0.0;
        for (int n = 0; n < kSize; ++n) {
            const int index = static_cast<int>((static_cast<long>(k) * n) % kSize);
            re += windowed[n] * cosines[index];
            im -= windowed[n] * sines[index];
        }
        return std::pair{re, im};
    };
    std::vector<double> power(kSize / 2);
    const auto [dc, dcIm] = transform(0);
    const auto [nyquist, nyquistIm] = transform(kSize / 2);
    power[0] = 4.0 * (dc * dc + nyquist * nyquist);
    for (int k = 1; k < kSize / 2; ++k) {
        const auto [re, im] = transform(k);
        power[k] = 4.0 * (re * re + im * im);
    }
    return power;
}

TEST(SpectrumAnalyzer, FftPathMatchesANaiveDft) {
    // Pieces of odd sizes leave the ring's write index in the middle, so the unrolling matters.
    const std::vector<float> signal = noise(6277, 1);
    SpectrumAnalyzer analyzer(kSize, kRate);
    analyzer.push(std::span(signal).first(3000));
    analyzer.push(std::span(signal).subspan(3000, 2500));
    analyzer.push(std::span(signal).subspan(5500));
    EXPECT_NE(analyzer.writeIndex(), 0);
    ASSERT_TRUE(analyzer.compute(192, 20.0, 20000.0).has_value());

    const std::vector<double> power = naivePowerValues(signal);
    const std::vector<double> fftPower = analyzer.powerValues();
    const std::vector<float> fftLevels = analyzer.binLevelsDB();
    ASSERT_EQ(fftPower.size(), power.size());
    double meanPower = 0.0;
    for (const double m : power) {
        meanPower += m / static_cast<double>(power.size());
    }
    for (std::size_t k = 0; k < power.size(); ++k) {
        EXPECT_NEAR(fftPower[k], power[k], 1e-5 * meanPower) << "bin " << k;
        EXPECT_NEAR(fftLevels[k], 10.0 * std::log10(power[k] / (double(kSize) * kSize) + 1e-12),
                    2e-3)
            << "bin " << k;
    }
}

TEST(SpectrumAnalyzer, RowsFollowALevelChangeGradually) {
    // Noise 40 dB quieter after a first row: the next row lies between the two levels and the
    // rows settle on the new level.
    SpectrumAnalyzer analyzer(kSize, kRate);
    analyzer.push(noise(kSize, 2));
    const std::vector<float> loud = analyzer.compute(192, 20.0, 20000.0).value();
    const std::vector<float> quietSamples = noise(kSize, 3, 0.005f);
    SpectrumAnalyzer fresh(kSize, kRate);
    fresh.push(quietSamples);
    const std::vector<float> quiet = fresh.compute(192, 20.0, 20000.0).value();
    analyzer.push(quietSamples);
    std::vector<float> row = analyzer.compute(192, 20.0, 20000.0).value();
    for (std::size_t i = 0; i < row.size(); ++i) {
        EXPECT_LT(row[i], loud[i] - 5.0f) << i;
        EXPECT_GT(row[i], quiet[i] + 5.0f) << i;
    }
    for (int k = 0; k < 60; ++k) {
        row = analyzer.compute(192, 20.0, 20000.0).value();
    }
    for (std::size_t i = 0; i < row.size(); ++i) {
        EXPECT_NEAR(row[i], quiet[i], 0.01) << i;
    }
}

TEST(SpectrumAnalyzer, FullScaleSineOnABinCentreReadsMinus1Point76) {
    constexpr int kBin = 100;
    SpectrumAnalyzer analyzer(kSize, kRate);
    analyzer.push(sine(kBin * kBinWidthHz, 1.0, kSize));
    const std::vector<float> row = analyzer.compute(192, 20.0, 20000.0).value();

    // The scaled Hann window's transform is 0.8165 N at 0 and -0.8165 N / 2 one bin away, and a
    // unit sine puts half its amplitude on each side: |X| = 0.8165 N / 2 in the centre bin, so
    // m / N^2 = 2/3 (-1.76 dB); each neighbour holds half the amplitude, 6.02 dB lower.
    const std::vector<float> levels = analyzer.binLevelsDB();
    EXPECT_NEAR(levels[kBin], 10.0 * std::log10(2.0 / 3.0), 1e-3);
    EXPECT_NEAR(levels[kBin - 1], 10.0 * std::log10(2.0 / 3.0 / 4.0), 1e-3);
    EXPECT_NEAR(levels[kBin + 1], 10.0 * std::log10(2.0 / 3.0 / 4.0), 1e-3);
    EXPECT_LT(levels[kBin + 10], -90.0f);

    // On the log axis from 20 Hz to 20 kHz, 1171.875 Hz lies near index 191 log(58.6) / log(1000);
    // neighbouring indices are 3.6 bins apart here.
    const auto loudest = std::max_element(row.begin(), row.end()) - row.begin();
    EXPECT_NEAR(static_cast<double>(loudest),
                191.0 * std::log(kBin * kBinWidthHz / 20.0) / std::log(1000.0), 2.0);
}

TEST(SpectrumAnalyzer, YieldsRowsOnlyFromAFullWindowOfTheNewestSamples) {
    SpectrumAnalyzer analyzer(kSize, kRate);
    analyzer.push({});
    EXPECT_FALSE(analyzer.compute(192, 20.0, 20000.0).has_value());
    analyzer.push(std::vector<float>(kSize - 1, 0.0f));
    EXPECT_FALSE(analyzer.compute(192, 20.0, 20000.0).has_value());
    analyzer.push(std::vector<float>(1, 0.0f));
    EXPECT_EQ(analyzer.writeIndex(), 0);
    // Silence reads the floor in every value.
    const std::vector<float> floor = analyzer.compute(192, 20.0, 20000.0).value();
    for (const float value : floor) {
        EXPECT_FLOAT_EQ(value, -120.0f);
    }

    // A reset starts over without time smoothing; a push longer than the window keeps only its
    // newest samples.
    analyzer.reset();
    EXPECT_FALSE(analyzer.filled());
    EXPECT_FALSE(analyzer.compute(192, 20.0, 20000.0).has_value());
    const std::vector<float> signal = noise(kSize + 904, 4);
    analyzer.push(signal);
    EXPECT_EQ(analyzer.writeIndex(), 0);
    SpectrumAnalyzer tailOnly(kSize, kRate);
    tailOnly.push(std::span(signal).last(kSize));
    EXPECT_EQ(analyzer.compute(192, 20.0, 20000.0), tailOnly.compute(192, 20.0, 20000.0));
}

TEST(SpectrumAnalyzer, AxisEndsReadTheLevelAtTheirFrequencyClampedToTheBins) {
    SpectrumAnalyzer analyzer(kSize, kRate);
    analyzer.push(noise(kSize, 6));
    EXPECT_TRUE(analyzer.compute(0, 20.0, 20000.0).value().empty());
    ASSERT_TRUE(analyzer.compute(192, 20.0, 20000.0).has_value());
    const std::vector<float> levels = analyzer.binLevelsDB();
    // A single output value is the level at minHz; frequencies outside the bins read the edges.
    // Each call moves the time-smoothed row, so every check gets an analyzer of its own.
    const auto single = [](double hz) {
        SpectrumAnalyzer fresh(kSize, kRate);
        fresh.push(noise(kSize, 6));
        return fresh.compute(1, hz, std::max(hz, 20000.0)).value().at(0);
    };
    EXPECT_EQ(single(100 * kBinWidthHz), levels[100]);
    EXPECT_EQ(single(30000.0), levels[kSize / 2 - 1]);
    EXPECT_EQ(single(0.0), levels[0]);
}

TEST(SpectrumAnalyzer, HugeOrNonFiniteSamplesNeverYieldNotANumber) {
    // Samples near the float limit overflow the transform; a not-a-number sample spoils it
    // until it leaves the window.
    SpectrumAnalyzer analyzer(kSize, kRate);
    std::vector<float> spoilt = noise(kSize, 8, 3e37f);
    spoilt[123] = std::numeric_limits<float>::quiet_NaN();
    for (const std::vector<float>& samples : {spoilt, noise(kSize, 8, 3e37f), noise(kSize, 9)}) {
        analyzer.push(samples);
        const std::vector<float> row = analyzer.compute(192, 20.0, 20000.0).value();
        EXPECT_TRUE(std::none_of(row.begin(), row.end(), [](float v) { return std::isnan(v); }));
    }
    const std::vector<float> row = analyzer.compute(192, 20.0, 20000.0).value();
    EXPECT_TRUE(std::all_of(row.begin(), row.end(), [](float v) { return std::isfinite(v); }));
}

TEST(SpectrumAnalyzerDeathTest, StopsWhenNoTransformCanBeMadeForTheSize) {
    EXPECT_DEATH(SpectrumAnalyzer(1000, kRate),
                 "SpectrumAnalyzer: failed to create FFT setup for size 1000");
    EXPECT_DEATH(SpectrumAnalyzer(0, kRate),
                 "SpectrumAnalyzer: failed to create FFT setup for size 0");
}

}  // namespace
}  // namespace orvinta
