// The EBU test signals of Tech 3341 (loudness) and Tech 3342 (loudness range): 1 kHz sines
// at the given peak levels in dBFS, the same in both channels of a stereo input, with the
// phase running on across level changes; and audio whose waveform between samples is known.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

#include "measurement/loudness_analyzer.h"
#include "tests/measurement/loudness_signals.h"

namespace orvinta {
namespace {

using namespace orvinta::testing;

constexpr double kPi = std::numbers::pi;

struct Segment {
    double dbfs;
    double seconds;
};

LoudnessSnapshot measureStereo(const std::vector<Segment>& segments) {
    Sine tone(1000.0);
    std::vector<float> samples;
    for (const Segment& segment : segments) {
        const std::vector<float> piece =
            tone.next(static_cast<std::size_t>(std::llround(segment.seconds * kRate)),
                      dbToAmplitude(segment.dbfs));
        samples.insert(samples.end(), piece.begin(), piece.end());
    }
    LoudnessAnalyzer analyzer(2);
    // An awkward block size: hops then read at buffer boundaries off the 100 ms grid.
    return feed(analyzer, {samples, samples}, 4096);
}

TEST(EbuLoudnessSignals, ReadTheirExpectedLoudness) {
    struct Case {
        std::vector<Segment> segments;
        double lufs;
        bool steady;  // momentary and short-term read it too
    };
    const Case cases[] = {
        {{{-23.0, 20.0}}, -23.0, true},
        {{{-33.0, 20.0}}, -33.0, true},
        // Relative gate: the -36 dBFS parts lie more than 10 LU under the -23 part.
        {{{-36.0, 10.0}, {-23.0, 60.0}, {-36.0, 10.0}}, -23.0, false},
        // Absolute gate as well: -72 dBFS is under -70 LUFS.
        {{{-72.0, 10.0}, {-36.0, 10.0}, {-23.0, 60.0}, {-36.0, 10.0}, {-72.0, 10.0}}, -23.0, false},
        // Within 10 LU nothing is gated: the mean of the powers gives -23.
        {{{-26.0, 20.0}, {-20.0, 20.1}, {-26.0, 20.0}}, -23.0, false},
    };
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        const LoudnessSnapshot s = measureStereo(cases[k].segments);
        EXPECT_NEAR(s.integratedLUFS, cases[k].lufs, 0.1) << "signal " << k + 1;
        if (cases[k].steady) {
            EXPECT_NEAR(s.momentaryLUFS, cases[k].lufs, 0.1) << "signal " << k + 1;
            EXPECT_NEAR(s.shortTermLUFS, cases[k].lufs, 0.1) << "signal " << k + 1;
        }
    }
}

TEST(EbuLoudnessRangeSignals, ReadTheirExpectedRange) {
    const std::pair<std::vector<Segment>, double> cases[] = {
        {{{-20.0, 20.0}, {-30.0, 20.0}}, 10.0},
        {{{-20.0, 20.0}, {-15.0, 20.0}}, 5.0},
        {{{-40.0, 20.0}, {-20.0, 20.0}}, 20.0},
        {{{-50.0, 20.0}, {-35.0, 20.0}, {-20.0, 20.0}, {-35.0, 20.0}, {-50.0, 20.0}}, 15.0},
    };
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        EXPECT_NEAR(measureStereo(cases[k].first).loudnessRangeLU, cases[k].second, 1.0)
            << "signal " << k + 1;
    }
}

TEST(LoudnessAnalyzerTruePeak, ReadsBandLimitedAudioAsItsWaveformBetweenTheSamples) {
    // Equal partials from 10 to 19.5 kHz at random phases: the waveform between the samples is
    // known exactly, and its largest magnitude at the interpolated points (each input sample
    // less 7.875, 7.625, 7.375 and 7.125 sample periods) is what the meter must read. A passband
    // that droops towards 20 kHz reads such audio low.
    std::mt19937 generator(5);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<std::pair<double, double>> partials(60);
    for (auto& [hz, phase] : partials) {
        hz = 10000.0 + 9500.0 * uniform(generator);
        phase = 2.0 * kPi * uniform(generator);
    }
    const auto waveform = [&partials](double samplePeriods) {
        double sum = 0.0;
        for (const auto& [hz, phase] : partials) {
            sum += std::sin(2.0 * kPi * hz * samplePeriods / kRate + phase) / 40.0;
        }
        return sum;
    };
    const std::size_t half = kFramesPerSecond / 2;
    std::vector<float> samples(2 * half);
    for (std::size_t n = 0; n < samples.size(); ++n) {
        samples[n] = static_cast<float>(waveform(static_cast<double>(n)));
    }
    double crest = 0.0;
    for (std::size_t n = half - 8; n < 2 * half - 8; ++n) {
        for (const double offset : {0.125, 0.375, 0.625, 0.875}) {
            crest = std::max(crest, std::abs(waveform(static_cast<double>(n) + offset)));
        }
    }
    // The onset rings; the second half is read after a statistics reset.
    LoudnessAnalyzer analyzer(1);
    analyzer.process({std::vector<float>(samples.begin(), samples.begin() + half)});
    analyzer.resetLoudnessStatistics();
    const LoudnessSnapshot s =
        analyzer.process({std::vector<float>(samples.begin() + half, samples.end())});
    EXPECT_NEAR(s.maxTruePeakDBTP[0], 20.0 * std::log10(crest), 0.02);
}

}  // namespace
}  // namespace orvinta
