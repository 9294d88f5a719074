#include "measurement/spectrum_analyzer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <limits>
#include <numbers>
#include <span>
#include <vector>

#include "tests/measurement/loudness_signals.h"

namespace orvinta {
namespace {

using testing::noise;
using testing::sine;

constexpr int kSize = 4096;
constexpr double kRate = 48000.0;
constexpr double kBinWidthHz = kRate / kSize;

// Power values of the last kSize samples straight from the DFT's definition, in double precision:
// m_k = 4 |X_k|^2 of the scaled Hann-windowed samples, with the Nyquist term folded into bin 0.
std::vector<double> naivePowerValues(std::span<const float> signal) {
    const auto samples = signal.last(kSize);
    std::vector<std::complex<double>> roots(kSize);
    for (int n = 0; n < kSize; ++n) {
        roots[n] = std::polar(1.0, -2.0 * std::numbers::pi * n / kSize);
    }
    const auto power = [&](int k) {
        std::complex<double> sum;
        for (int n = 0; n < kSize; ++n) {
            sum += samples[n] * 0.8165 * (1.0 - roots[n].real()) * roots[(long{k} * n) % kSize];
        }
        return 4.0 * std::norm(sum);
    };
    std::vector<double> values(kSize / 2);
    for (int k = 0; k < kSize / 2; ++k) {
        values[k] = power(k);
    }
    values[0] += power(kSize / 2);
    return values;
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
    // The floor before a full window and after a reset is checked through the analyzer.
    SpectrumAnalyzer analyzer(kSize, kRate);
    analyzer.push(std::vector<float>(kSize - 1, 0.0f));
    EXPECT_FALSE(analyzer.compute(192, 20.0, 20000.0).has_value());
    // A push longer than the window keeps only its newest samples.
    const std::vector<float> signal = noise(kSize + 905, 4);
    analyzer.push(signal);
    SpectrumAnalyzer tailOnly(kSize, kRate);
    tailOnly.push(std::span(signal).last(kSize));
    EXPECT_EQ(analyzer.compute(192, 20.0, 20000.0), tailOnly.compute(192, 20.0, 20000.0));
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
