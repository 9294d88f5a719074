#include "measurement/loudness_analyzer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "tests/measurement/loudness_signals.h"

namespace orvinta {
namespace {

using namespace orvinta::testing;
using namespace std::chrono_literals;

const std::vector<float> kFloorRow(192, -120.0f);

std::vector<float> slice(const std::vector<float>& samples, std::size_t from, std::size_t frames) {
    const auto first = samples.begin() + static_cast<std::ptrdiff_t>(from);
    return {first, first + static_cast<std::ptrdiff_t>(frames)};
}

// Noise whose level steps between two values every half second.
std::vector<float> programme(std::size_t frames, unsigned seed) {
    std::vector<float> samples = noise(frames, seed, 0.3f);
    for (std::size_t i = 0; i < frames; ++i) {
        samples[i] *= (i / 24000) % 3 == 0 ? 1.0f : 0.25f;
    }
    return samples;
}

TEST(LoudnessAnalyzer, FullScale997HzSineReadsItsLoudnessWeightedByChannelPosition) {
    EXPECT_EQ(LoudnessAnalyzer(0).channelCount(), 1);
    EXPECT_EQ(LoudnessAnalyzer(-3).channelWeights(), std::vector<double>{1.0});
    // The sine in the listed channels, silence in the others. Six channels are L R C LFE Ls Rs:
    // the surrounds count 1.41 times (+1.49 dB), LFE not at all; other counts weigh alike.
    struct Case {
        std::size_t channels;
        std::vector<std::size_t> loud;
        double lufs;
    };
    const double surround = -3.01 + 10.0 * std::log10(1.41);
    const Case cases[] = {{1, {0}, -3.01}, {2, {0}, -3.01}, {2, {0, 1}, 0.0},   {6, {0}, -3.01},
                          {6, {2}, -3.01}, {6, {3}, -kInf}, {6, {4}, surround}, {6, {5}, surround},
                          {5, {4}, -3.01}, {8, {7}, -3.01}, {3, {2}, -3.01}};
    const std::vector<float> tone = sine(997.0, 1.0, 3 * kFramesPerSecond);
    for (const Case& c : cases) {
        std::vector<std::vector<float>> channels(c.channels, std::vector<float>(tone.size()));
        for (const std::size_t loud : c.loud) {
            channels[loud] = tone;
        }
        LoudnessAnalyzer analyzer(static_cast<int>(c.channels));
        const LoudnessSnapshot s = feed(analyzer, channels, 4800);
        SCOPED_TRACE(::testing::Message() << c.channels << " channels, first loud " << c.loud[0]);
        if (std::isinf(c.lufs)) {
            EXPECT_EQ(s.momentaryLUFS, -kInf);
            EXPECT_EQ(s.integratedLUFS, -70.0);
            continue;
        }
        for (const double lufs : {s.momentaryLUFS, s.shortTermLUFS, s.integratedLUFS}) {
            EXPECT_NEAR(lufs, c.lufs, 0.01);
        }
        EXPECT_NEAR(s.loudnessRangeLU, 0.0, 1e-6);
    }
}

TEST(LoudnessAnalyzer, StartsWithNothingMeasuredAndReadsDigitalSilenceAsSilence) {
    LoudnessAnalyzer fresh(3);
    LoudnessAnalyzer analyzer(2);
    const std::vector<float> zeros(4 * kFramesPerSecond);
    const LoudnessSnapshot quiet = feed(analyzer, {zeros, zeros}, 4096);
    for (const LoudnessSnapshot& s : {fresh.latestSnapshot(), quiet}) {
        EXPECT_EQ(s.momentaryLUFS, -kInf);
        EXPECT_EQ(s.shortTermLUFS, -kInf);
        EXPECT_EQ(s.loudnessRangeLU, 0.0);
        EXPECT_EQ(s.truePeakDBTP, std::vector<double>(s.truePeakDBTP.size(), -kInf));
        EXPECT_EQ(s.maxTruePeakDBTP, s.truePeakDBTP);
    }
    EXPECT_EQ(fresh.latestSnapshot().integratedLUFS, -kInf);
    EXPECT_EQ(quiet.integratedLUFS, -70.0);
    EXPECT_EQ(fresh.latestSnapshot().truePeakDBTP.size(), 3u);
    EXPECT_TRUE(!fresh.latestSnapshot().phaseCorrelation &&
                fresh.latestSnapshot().spectrumDB.empty());
    EXPECT_EQ(quiet.phaseCorrelation, 1.0);
    EXPECT_EQ(quiet.spectrumDB, std::vector<std::vector<float>>(2, kFloorRow));
}

TEST(LoudnessAnalyzer, MeasurementsWarmUpHopByHop) {
    // A tone whose level changes every second, in calls of 4 800 frames after a first short
    // call: then hop k fires in call k + 1.
    Sine tone(997.0);
    const std::vector<float> first = tone.next(100, 1.0);
    LoudnessAnalyzer analyzer(2);
    LoudnessSnapshot s = analyzer.process({first, first});
    EXPECT_TRUE(std::isfinite(s.truePeakDBTP[0]) && std::isfinite(s.maxTruePeakDBTP[1]));
    EXPECT_TRUE(s.phaseCorrelation.has_value() && !s.goniometerPoints.empty());
    EXPECT_TRUE(s.spectrumDB.empty());
    for (int hop = 1; hop <= 41; ++hop) {
        const std::vector<float> block = tone.next(hop == 1 ? 4700 : 4800, hop % 20 < 10 ? 1 : 0.3);
        s = analyzer.process({block, block});
        ASSERT_EQ(s.spectrumDB.size(), 2u);
        for (const auto& row : s.spectrumDB) {
            ASSERT_EQ(row.size(), 192u);
            EXPECT_GT(*std::max_element(row.begin(), row.end()), -100.0f)
                << "4 800 samples already fill the spectrum's 4 096";
        }
        EXPECT_EQ(std::isfinite(s.momentaryLUFS), hop >= 4) << "hop " << hop;
        EXPECT_EQ(std::isfinite(s.integratedLUFS), hop >= 10) << "hop " << hop;
        EXPECT_EQ(std::isfinite(s.shortTermLUFS), hop >= 30) << "hop " << hop;
        EXPECT_EQ(s.loudnessRangeLU > 1.0, hop >= 40) << "hop " << hop;
    }
}

TEST(LoudnessAnalyzer, OneLongBufferFiresSeveralHopsOnTheSameNewestSamples) {
    // 19 200 frames of silence, then 4 800 of tone in one call: the five hops all read the
    // tone, so the momentary block (the newest four hops) holds nothing but tone.
    Sine tone(997.0);
    std::vector<float> samples(19200);
    const std::vector<float> loud = tone.next(4800, 1.0);
    samples.insert(samples.end(), loud.begin(), loud.end());
    LoudnessAnalyzer analyzer(1);
    EXPECT_NEAR(analyzer.process({samples}).momentaryLUFS, -3.01, 0.05);
    // Hops 6 to 9, then a remainder one frame short of the tenth.
    for (int hop = 6; hop <= 9; ++hop) {
        analyzer.process({tone.next(4800, 1.0)});
    }
    EXPECT_EQ(analyzer.process({tone.next(4799, 1.0)}).integratedLUFS, -kInf);
    EXPECT_NEAR(analyzer.process({tone.next(1, 1.0)}).integratedLUFS, -3.01, 0.05);
}

TEST(LoudnessAnalyzer, IgnoresBuffersThatDoNotFitAndMeasuresNonFiniteSamplesAsSilence) {
    const std::vector<float> clean = programme(3 * kFramesPerSecond, 1);
    std::vector<float> broken = clean;
    std::vector<float> zeroed = clean;
    const float bad[] = {
        std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
        -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::signaling_NaN()};
    for (std::size_t k = 0; k < std::size(bad); ++k) {
        broken[10 + 33333 * k] = bad[k];
        zeroed[10 + 33333 * k] = 0.0f;
    }
    LoudnessAnalyzer analyzer(2);
    LoudnessAnalyzer twin(2);
    const auto halves = [](const std::vector<float>& samples) {
        return std::pair{slice(samples, 0, 50000), slice(samples, 50000, samples.size() - 50000)};
    };
    const auto [head, tail] = halves(broken);
    const auto [zeroedHead, zeroedTail] = halves(zeroed);
    feed(analyzer, {head, head}, 4096);
    feed(twin, {zeroedHead, zeroedHead}, 4096);
    const LoudnessSnapshot before = analyzer.latestSnapshot();
    for (const ChannelBuffers& unfit : {ChannelBuffers{}, ChannelBuffers{head, head, head},
                                        ChannelBuffers{head}, ChannelBuffers{{}, head}}) {
        EXPECT_TRUE(analyzer.process(unfit) == before);
    }
    const LoudnessSnapshot s = feed(analyzer, {tail, tail}, 4096);
    EXPECT_TRUE(s == feed(twin, {zeroedTail, zeroedTail}, 4096));
    EXPECT_TRUE(std::isfinite(s.integratedLUFS) && std::isfinite(s.maxTruePeakDBTP[0]));
}

TEST(LoudnessAnalyzer, ChannelsOfUnequalLengthEachConsumeTheirOwnSamples) {
    // The first channel sets the hop count; the second, half as long per call, is still a
    // continuous tone of its own.
    Sine left(997.0);
    Sine right(997.0);
    LoudnessAnalyzer analyzer(2);
    LoudnessSnapshot s;
    for (int call = 0; call < 20; ++call) {
        s = analyzer.process({left.next(4800, 0.5), right.next(2400, 1.0)});
    }
    EXPECT_NEAR(s.truePeakDBTP[0], 20.0 * std::log10(0.5), 0.05);
    EXPECT_NEAR(s.truePeakDBTP[1], 0.0, 0.05);
    // Mean squares 0.125 and 0.5; the 997 Hz K-weighting gain cancels the -0.691 offset.
    EXPECT_NEAR(s.momentaryLUFS, 10.0 * std::log10(0.625), 0.02);
}

TEST(LoudnessAnalyzer, ResultsDoNotDependOnHowTheAudioIsCut) {
    const std::vector<float> left = programme(5 * kFramesPerSecond, 3);
    const std::vector<float> right = programme(5 * kFramesPerSecond, 4);
    LoudnessAnalyzer reference(2);
    double loudestHop = -kInf;  // one hop per buffer: every hop's momentary value is seen here
    const LoudnessSnapshot expected = feed(reference, {left, right}, 4800, &loudestHop);
    ASSERT_GT(expected.loudnessRangeLU, 0.0);
    // Hops fall on the same samples for any block size that divides the hop, sample by sample
    // too, and the last snapshot keeps the loudest momentary value of every hop before it; the
    // maximum true peak carries its history across every buffer boundary. A file scan reads
    // the same, though it leaves out the quiet stretches that cannot raise the peak.
    for (const std::size_t block : {1u, 480u, 1600u, 2400u, 127u, 1024u, 4095u, 4801u}) {
        const auto use =
            block % 2 == 0 ? LoudnessAnalyzer::Use::fileScan : LoudnessAnalyzer::Use::liveMeter;
        LoudnessAnalyzer analyzer(2, use);
        const LoudnessSnapshot s = feed(analyzer, {left, right}, block);
        for (std::size_t c = 0; c < 2; ++c) {
            EXPECT_NEAR(s.maxTruePeakDBTP[c], expected.maxTruePeakDBTP[c], 1e-9) << block;
        }
        if (4800 % block == 0) {
            EXPECT_EQ(s.momentaryLUFS, expected.momentaryLUFS) << block;
            EXPECT_EQ(s.shortTermLUFS, expected.shortTermLUFS) << block;
            EXPECT_EQ(s.integratedLUFS, expected.integratedLUFS) << block;
            EXPECT_EQ(s.loudnessRangeLU, expected.loudnessRangeLU) << block;
            EXPECT_EQ(s.maxMomentaryLUFS, loudestHop) << block;
        }
    }
}

TEST(LoudnessAnalyzer, StatisticsResetRestartsIntegratedRangeAndMaximumPeak) {
    // 30 s of a 997 Hz tone at -8 dBFS, a reset right after the integrated update of hop 300,
    // then 10 s at 0 dBFS.
    Sine tone(997.0);
    const std::vector<float> quiet = tone.next(30 * kFramesPerSecond, dbToAmplitude(-8.0));
    LoudnessAnalyzer analyzer(1);
    LoudnessAnalyzer twin(1);
    feed(analyzer, {quiet}, 4800);
    feed(twin, {quiet}, 4800);
    ASSERT_NEAR(analyzer.latestSnapshot().integratedLUFS, -11.01, 0.02);
    analyzer.resetLoudnessStatistics();
    const LoudnessSnapshot& cleared = analyzer.latestSnapshot();
    EXPECT_EQ(cleared.integratedLUFS, -kInf);
    EXPECT_EQ(cleared.loudnessRangeLU, 0.0);
    EXPECT_EQ(cleared.maxTruePeakDBTP, std::vector<double>{-kInf});
    EXPECT_EQ(cleared.maxMomentaryLUFS, -kInf);

    for (int hop = 301; hop <= 400; ++hop) {
        const std::vector<float> block = tone.next(4800, 1.0);
        const LoudnessSnapshot s = analyzer.process({block});
        const LoudnessSnapshot t = twin.process({block});
        // Momentary and short-term go on without a new warm-up.
        ASSERT_EQ(s.momentaryLUFS, t.momentaryLUFS) << "hop " << hop;
        ASSERT_EQ(s.shortTermLUFS, t.shortTermLUFS) << "hop " << hop;
        if (hop == 301) {
            EXPECT_EQ(s.maxTruePeakDBTP, s.truePeakDBTP);
            EXPECT_GT(s.maxTruePeakDBTP[0], -1.0);
        }
        // The integrated value comes back at the next tenth hop of the run.
        ASSERT_EQ(std::isinf(s.integratedLUFS), hop < 310) << "hop " << hop;
    }
    // The integrated value covers the 100 blocks since the reset, the first three of which
    // still overlap the quiet part by 3, 2 and 1 hops of relative power q; the twin's covers
    // both parts.
    const double q = std::pow(10.0, -0.8);
    EXPECT_NEAR(analyzer.latestSnapshot().integratedLUFS,
                -3.01 + 10.0 * std::log10((97.0 + 1.5 + 1.5 * q) / 100.0), 0.01);
    EXPECT_LT(twin.latestSnapshot().integratedLUFS, -6.0);
    EXPECT_LT(analyzer.latestSnapshot().loudnessRangeLU, twin.latestSnapshot().loudnessRangeLU);
}

TEST(LoudnessAnalyzer, PhaseAndSpectrumResetClearsTheDisplayAnalyzersOnly) {
    const std::vector<float> left = programme(2 * kFramesPerSecond, 6);
    const std::vector<float> right = programme(2 * kFramesPerSecond, 7);
    LoudnessAnalyzer analyzer(2);
    LoudnessAnalyzer twin(2);
    // 4 000 frames past the last hop, so that the next 800 frames fire a hop.
    std::size_t at = 10 * 4800 - 800;
    feed(analyzer, {slice(left, 0, at), slice(right, 0, at)}, 4800);
    feed(twin, {slice(left, 0, at), slice(right, 0, at)}, 4800);
    const LoudnessSnapshot before = analyzer.latestSnapshot();
    analyzer.resetPhaseAndSpectrum();
    EXPECT_TRUE(analyzer.latestSnapshot().goniometerPoints.empty());
    EXPECT_EQ(analyzer.latestSnapshot().phaseCorrelation, before.phaseCorrelation);
    EXPECT_EQ(analyzer.latestSnapshot().spectrumDB, before.spectrumDB);

    // After 800, 3 800 and 8 600 new samples: the spectrum reads the floor until 4 096 have
    // come, while loudness goes on as if nothing had happened.
    for (const std::size_t frames : {800u, 3000u, 4800u}) {
        const ChannelBuffers block{slice(left, at, frames), slice(right, at, frames)};
        at += frames;
        const LoudnessSnapshot s = analyzer.process(block);
        const LoudnessSnapshot t = twin.process(block);
        EXPECT_EQ(s.integratedLUFS, t.integratedLUFS);
        EXPECT_EQ(s.momentaryLUFS, t.momentaryLUFS);
        if (frames == 800) {
            EXPECT_EQ(s.spectrumDB, std::vector<std::vector<float>>(2, kFloorRow));
            EXPECT_EQ(s.goniometerPoints.size(), (800u + 23u) / 24u);
        } else if (frames == 4800) {
            EXPECT_GT(*std::max_element(s.spectrumDB[0].begin(), s.spectrumDB[0].end()), -100.0f);
        }
    }
}

TEST(LoudnessAnalyzer, GoniometerKeepsTheNewest2000Points) {
    // Ten buffers of 4 800 frames give 200 points each; the newest 2 000 end with those of the
    // last buffer, which a fresh analyzer makes alone. A mono input has none.
    const std::vector<float> left = programme(kFramesPerSecond, 8);
    const std::vector<float> right = programme(kFramesPerSecond, 9);
    LoudnessAnalyzer analyzer(2);
    LoudnessAnalyzer lastOnly(2);
    const LoudnessSnapshot s = feed(analyzer, {left, right}, 4800);
    const LoudnessSnapshot last =
        lastOnly.process({slice(left, 43200, 4800), slice(right, 43200, 4800)});
    ASSERT_EQ(s.goniometerPoints.size(), 2000u);
    EXPECT_TRUE(std::equal(last.goniometerPoints.begin(), last.goniometerPoints.end(),
                           s.goniometerPoints.end() - 200));
    LoudnessAnalyzer mono(1);
    EXPECT_TRUE(feed(mono, {left}, 4096).goniometerPoints.empty());
    EXPECT_FALSE(mono.latestSnapshot().phaseCorrelation.has_value());
}

TEST(LoudnessAnalyzer, TruePeakOfBandLimitedAudioIsItsWaveformBetweenTheSamples) {
    // Equal partials from 10 to 19.5 kHz at random phases: the waveform between the samples is
    // known exactly, and its largest magnitude at the interpolated points (each input sample
    // less 7.875, 7.625, 7.375 and 7.125 sample periods) is what the meter must read. A passband
    // that droops towards 20 kHz reads such audio low.
    std::mt19937 generator(5);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<std::pair<double, double>> partials(60);
    for (auto& [hz, phase] : partials) {
        hz = 10000.0 + 9500.0 * uniform(generator);
        phase = 2.0 * std::numbers::pi * uniform(generator);
    }
    const auto waveform = [&partials](double samplePeriods) {
        double sum = 0.0;
        for (const auto& [hz, phase] : partials) {
            sum += std::sin(2.0 * std::numbers::pi * hz * samplePeriods / kRate + phase) / 40.0;
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

TEST(LoudnessAnalyzer, ReportsItsStageTimesAtMostEveryTwoSeconds) {
    // A clock moved by hand; every reading moves it on by a quarter millisecond, so each timed
    // stage takes exactly that long.
    auto now = std::make_shared<std::chrono::steady_clock::time_point>();
    LoudnessAnalyzer analyzer(2, [now] { return *now += 250us; });
    std::vector<LoudnessAnalyzer::StageBreakdown> reports;
    analyzer.onStageBreakdown = [&reports](const auto& report) { reports.push_back(report); };
    const ChannelBuffers block(2, std::vector<float>(2048, 0.1f));
    // Six calls of 2 048 frames, hops firing in the third and the fifth, the sixth 2 s after
    // construction; an ignored call in between is not counted.
    for (int call = 0; call < 5; ++call) {
        analyzer.process(block);
        *now += 390ms;
    }
    *now += 50ms;
    analyzer.process({});
    EXPECT_TRUE(reports.empty()) << "nothing before two seconds have passed";
    analyzer.process(block);
    ASSERT_EQ(reports.size(), 1u);
    const LoudnessAnalyzer::StageBreakdown& r = reports.front();
    EXPECT_EQ(r.callCount, 6);
    EXPECT_EQ(r.hopEvalCallCount, 2);
    for (const double ms : {r.avgTruePeakMs, r.maxTruePeakMs, r.avgKWeightMs, r.maxKWeightMs,
                            r.avgRingWriteMs, r.maxRingWriteMs, r.avgHopEvalMs, r.maxHopEvalMs}) {
        EXPECT_EQ(ms, 0.25);
    }
    // The counts start again after each report.
    *now += 1990ms;
    analyzer.process(block);
    EXPECT_EQ(reports.size(), 1u);
    *now += 10ms;
    analyzer.process(block);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports.back().callCount, 2);
    EXPECT_EQ(reports.back().hopEvalCallCount, 1);
}

}  // namespace
}  // namespace orvinta
