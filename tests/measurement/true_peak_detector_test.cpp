#include "measurement/true_peak_detector.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numbers>
#include <random>
#include <span>
#include <stdexcept>
#include <vector>

namespace orvinta {
namespace {

constexpr double kNegativeInfinity = -std::numeric_limits<double>::infinity();

// The interpolator written the slow, obvious way: a shifted history of T samples, newest first,
// and every branch summed tap by tap for every input sample.
class ShiftingReference {
public:
    explicit ShiftingReference(const std::vector<double>& coefficients, int factor, int taps)
        : coefficients_(coefficients), factor_(factor), taps_(taps), history_(taps, 0.0) {}

    // Largest |interpolated value| of the buffer.
    double peak(std::span<const float> samples) {
        double peak = 0.0;
        for (const float x : samples) {
            std::rotate(history_.rbegin(), history_.rbegin() + 1, history_.rend());
            history_[0] = x;
            for (int p = 0; p < factor_; ++p) {
                double acc = 0.0;
                for (int k = 0; k < taps_; ++k) {
                    acc += coefficients_[p * taps_ + k] * history_[k];
                }
                peak = std::max(peak, std::abs(acc));
            }
        }
        return peak;
    }

private:
    std::vector<double> coefficients_;
    int factor_;
    int taps_;
    std::vector<double> history_;
};

std::vector<float> sine(double frequencyHz, double amplitude, double phase, std::size_t count) {
    std::vector<float> samples(count);
    for (std::size_t n = 0; n < count; ++n) {
        samples[n] = static_cast<float>(
            amplitude * std::sin(2.0 * std::numbers::pi * frequencyHz * n / 48000.0 + phase));
    }
    return samples;
}

std::vector<float> noise(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> distribution(-1.0f, 1.0f);
    std::vector<float> samples(count);
    for (float& sample : samples) {
        sample = distribution(generator);
    }
    return samples;
}

double rounded(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

TEST(TruePeakDetector, BesselSeriesMatchesTheLibraryFunction) {
    EXPECT_NEAR(TruePeakDetector::besselI0FromQuarterSquare(18.49), 750.4611595631661, 1e-9);
    for (const double x : {0.0, 0.5, 2.0, 4.3, 8.6}) {
        const double a = (x / 2.0) * (x / 2.0);
        EXPECT_NEAR(TruePeakDetector::besselI0FromQuarterSquare(a), std::cyl_bessel_i(0.0, x),
                    1e-12 * std::cyl_bessel_i(0.0, x))
            << "x = " << x;
    }
}

TEST(TruePeakDetector, SilenceReadsNegativeInfinityAndKeepsTheMaximum) {
    TruePeakDetector detector(4, 12);
    detector.process(std::vector<float>(480, 0.0f));
    EXPECT_EQ(detector.currentPeakDBTP(), kNegativeInfinity);
    EXPECT_EQ(detector.maxPeakDBTP(), kNegativeInfinity);

    detector.process(sine(997.0, 0.5, 0.0, 4800));
    const double loud = detector.maxPeakDBTP();
    // The first buffer of zeros still holds the tone's tail in the history; the second does not.
    detector.process(std::vector<float>(480, 0.0f));
    detector.process(std::vector<float>(480, 0.0f));
    EXPECT_EQ(detector.currentPeakDBTP(), kNegativeInfinity);
    EXPECT_EQ(detector.maxPeakDBTP(), loud);

    detector.process({});
    EXPECT_EQ(detector.currentPeakDBTP(), kNegativeInfinity) << "an empty buffer changes nothing";
}

TEST(TruePeakDetector, FullScaleSineStepAndImpulseReadTheirKnownPeaks) {
    TruePeakDetector sineDetector(4, 12);
    const std::vector<float> signal = sine(997.0, 1.0, 0.0, 48000);
    sineDetector.process(std::span(signal).first(4800));
    sineDetector.process(std::span(signal).subspan(4800));
    EXPECT_EQ(rounded(sineDetector.currentPeakDBTP(), 2), 0.0);

    // A step overshoots above the level it settles at.
    TruePeakDetector stepDetector(4, 12);
    std::vector<float> step(960, 0.0f);
    std::fill(step.begin() + 480, step.end(), 0.5f);
    stepDetector.process(step);
    EXPECT_EQ(rounded(stepDetector.currentPeakDBTP(), 2), -5.00);
    stepDetector.process(std::vector<float>(960, 0.5f));
    EXPECT_EQ(rounded(stepDetector.currentPeakDBTP(), 2), -6.02);
    EXPECT_EQ(rounded(stepDetector.maxPeakDBTP(), 2), -5.00);

    // A single full-scale sample reads below full scale.
    TruePeakDetector impulseDetector(4, 12);
    std::vector<float> impulse(100, 0.0f);
    impulse[50] = 1.0f;
    impulseDetector.process(impulse);
    EXPECT_EQ(rounded(impulseDetector.currentPeakDBTP(), 2), -0.24);
}

TEST(TruePeakDetector, QuarterRateSineFindsThePeakBetweenSamples) {
    // Every sample of sin(pi/2 n + pi/4) is +-0.7071 (-3.01 dBFS); the waveform peaks at 1.0
    // halfway between samples, where no interpolated point falls.
    TruePeakDetector detector(4, 12);
    std::vector<float> signal(4800);
    for (std::size_t n = 0; n < signal.size(); ++n) {
        signal[n] =
            static_cast<float>(std::sin(std::numbers::pi / 2.0 * n + std::numbers::pi / 4.0));
    }
    EXPECT_LT(*std::max_element(signal.begin(), signal.end()), 0.7072f);

    // The onset of the first buffer overshoots.
    detector.process(signal);
    EXPECT_EQ(rounded(detector.currentPeakDBTP(), 2), -0.07);
    // Settled, the nearest points lie an eighth of a sample, pi/16 of the cycle, off the crest.
    detector.process(signal);
    EXPECT_EQ(rounded(detector.currentPeakDBTP(), 2),
              rounded(20.0 * std::log10(std::cos(std::numbers::pi / 16.0)), 2));
    EXPECT_EQ(rounded(detector.maxPeakDBTP(), 2), -0.07);
}

TEST(TruePeakDetector, AgreesWithLibebur128InTheAudibleBand) {
    // Two different interpolators agree with each other and with the sine's amplitude where the
    // signal is well below the Nyquist frequency; towards it the filters' responses differ. The
    // onset is left out: its ringing depends on the filter too.
    for (const double frequencyHz : {100.0, 997.0, 3000.0}) {
        for (const double phase : {0.3, 1.1}) {
            const std::vector<float> signal = sine(frequencyHz, 0.7, phase, 24000);
            const auto onset = std::span(signal).first(4800);
            const auto steady = std::span(signal).subspan(4800);

            TruePeakDetector detector(4, 12);
            detector.process(onset);
            detector.process(steady);

            ebur128_state* state = ebur128_init(1, 48000, EBUR128_MODE_TRUE_PEAK);
            ASSERT_NE(state, nullptr);
            ebur128_add_frames_float(state, onset.data(), onset.size());
            ebur128_add_frames_float(state, steady.data(), steady.size());
            double linear = 0.0;
            ebur128_prev_true_peak(state, 0, &linear);
            ebur128_destroy(&state);

            EXPECT_NEAR(detector.currentPeakDBTP(), 20.0 * std::log10(linear), 0.02)
                << frequencyHz << " Hz, phase " << phase;
            EXPECT_NEAR(detector.currentPeakDBTP(), 20.0 * std::log10(0.7), 0.02)
                << frequencyHz << " Hz, phase " << phase;
        }
    }
}

TEST(TruePeakDetector, EveryInterpolatedPointMatchesTheShiftingInterpolator) {
    // Loud noise exercises every lane and tail of the vectorised path; block sizes straddle its
    // internal chunking, and the history carries across every buffer boundary, so the maximum
    // does not depend on how the audio is cut.
    const std::vector<float> signal = noise(30000, 7);
    for (const auto& [factor, taps] :
         {std::pair{4, 12}, std::pair{4, 7}, std::pair{2, 8}, std::pair{3, 5}}) {
        TruePeakDetector detector(factor, taps);
        ShiftingReference reference(detector.polyphaseFlat(), factor, taps);
        std::size_t offset = 0;
        for (const std::size_t block : {1u, 127u, 1024u, 4095u, 4801u, 1025u, 8u, 2049u}) {
            const auto buffer = std::span(signal).subspan(offset, block);
            offset += block;
            detector.process(buffer);
            const double expected = 20.0 * std::log10(reference.peak(buffer));
            EXPECT_NEAR(detector.currentPeakDBTP(), expected, 1e-9)
                << "factor " << factor << ", taps " << taps << ", block " << block;
        }
        TruePeakDetector whole(factor, taps);
        whole.process(std::span(signal).first(offset));
        EXPECT_NEAR(detector.maxPeakDBTP(), whole.maxPeakDBTP(), 1e-12);
    }
}

TEST(TruePeakDetector, NotANumberSampleNeverBecomesThePeak) {
    std::vector<float> signal = sine(997.0, 0.5, 0.0, 4800);
    signal[2000] = std::numeric_limits<float>::quiet_NaN();
    TruePeakDetector detector(4, 12);
    ShiftingReference reference(detector.polyphaseFlat(), 4, 12);
    detector.process(signal);
    EXPECT_TRUE(std::isfinite(detector.currentPeakDBTP()));
    EXPECT_NEAR(detector.currentPeakDBTP(), 20.0 * std::log10(reference.peak(signal)), 1e-9);
    EXPECT_NEAR(detector.maxPeakDBTP(), 20.0 * std::log10(0.5), 0.01);
}

TEST(TruePeakDetector, ResetMaxPeakRestartsTheMaximumButKeepsTheHistory) {
    TruePeakDetector detector(4, 12);
    detector.process(sine(997.0, 1.0, 0.0, 4800));
    detector.resetMaxPeak();
    EXPECT_EQ(detector.maxPeakDBTP(), kNegativeInfinity);
    EXPECT_EQ(rounded(detector.currentPeakDBTP(), 2), 0.0);

    detector.process(sine(997.0, 0.1, 0.0, 4800));
    EXPECT_EQ(detector.maxPeakDBTP(), detector.currentPeakDBTP());

    // The history is not cleared: a buffer right after the reset still sees the previous samples.
    TruePeakDetector continuous(4, 12);
    TruePeakDetector withReset(4, 12);
    const std::vector<float> signal = noise(1000, 3);
    continuous.process(std::span(signal).first(500));
    withReset.process(std::span(signal).first(500));
    withReset.resetMaxPeak();
    continuous.process(std::span(signal).subspan(500, 3));
    withReset.process(std::span(signal).subspan(500, 3));
    EXPECT_EQ(withReset.currentPeakDBTP(), continuous.currentPeakDBTP());
}

TEST(TruePeakDetector, RejectsAFactorOrTapCountBelowOne) {
    EXPECT_THROW(TruePeakDetector(0, 12), std::invalid_argument);
    EXPECT_THROW(TruePeakDetector(4, 0), std::invalid_argument);
    const TruePeakDetector minimal(1, 1);
    EXPECT_EQ(minimal.polyphaseFlat(), std::vector<double>{1.0});
}

}  // namespace
}  // namespace orvinta
