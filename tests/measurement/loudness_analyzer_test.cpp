#include "measurement/loudness_analyzer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/measurement/loudness_signals.h"

namespace orvinta {
namespace {

using namespace orvinta::testing;
using namespace std::chrono_literals;

constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<float> silence(std::size_t frames) {
    return std::vector<float>(frames, 0.0f);
}

void expectSameSnapshot(const LoudnessSnapshot& a, const LoudnessSnapshot& b) {
    EXPECT_EQ(a.momentaryLUFS, b.momentaryLUFS);
    EXPECT_EQ(a.shortTermLUFS, b.shortTermLUFS);
    EXPECT_EQ(a.integratedLUFS, b.integratedLUFS);
    EXPECT_EQ(a.loudnessRangeLU, b.loudnessRangeLU);
    EXPECT_EQ(a.truePeakDBTP, b.truePeakDBTP);
    EXPECT_EQ(a.maxTruePeakDBTP, b.maxTruePeakDBTP);
    EXPECT_EQ(a.phaseCorrelation, b.phaseCorrelation);
    EXPECT_EQ(a.goniometerPoints, b.goniometerPoints);
    EXPECT_EQ(a.spectrumDB, b.spectrumDB);
}

// Level-stepped noise, low-passed so that it is mostly in band.
std::vector<float> programme(std::size_t frames, unsigned seed) {
    std::mt19937 generator(seed);
    std::normal_distribution<float> noise(0.0f, 0.2f);
    std::vector<float> samples(frames);
    float smoothed = 0.0f;
    for (std::size_t i = 0; i < frames; ++i) {
        smoothed += 0.3f * (noise(generator) - smoothed);
        const float level = (i / 24000) % 3 == 0 ? 1.0f : 0.25f;
        samples[i] = level * smoothed;
    }
    return samples;
}

TEST(LoudnessAnalyzer, FullScale997HzSineReadsItsLoudness) {
    Sine sine(997.0);
    const std::vector<float> tone = sine.next(5 * kFramesPerSecond, 1.0);
    const std::vector<float> quiet = silence(tone.size());

    LoudnessAnalyzer mono(1);
    LoudnessAnalyzer leftOnly(2);
    LoudnessAnalyzer both(2);
    const LoudnessSnapshot monoResult = feed(mono, {tone}, 4800);
    const LoudnessSnapshot leftResult = feed(leftOnly, {tone, quiet}, 4800);
    const LoudnessSnapshot bothResult = feed(both, {tone, tone}, 4800);
    for (const LoudnessSnapshot* s : {&monoResult, &leftResult}) {
        EXPECT_NEAR(s->momentaryLUFS, -3.01, 0.01);
        EXPECT_NEAR(s->shortTermLUFS, -3.01, 0.01);
        EXPECT_NEAR(s->integratedLUFS, -3.01, 0.01);
    }
    EXPECT_NEAR(bothResult.momentaryLUFS, 0.0, 0.01);
    EXPECT_NEAR(bothResult.shortTermLUFS, 0.0, 0.01);
    EXPECT_NEAR(bothResult.integratedLUFS, 0.0, 0.01);
    EXPECT_NEAR(bothResult.loudnessRangeLU, 0.0, 1e-6);
}

TEST(LoudnessAnalyzer, WeighsChannelsByTheirPosition) {
    EXPECT_EQ(LoudnessAnalyzer(0).channelCount(), 1);
    EXPECT_EQ(LoudnessAnalyzer(-3).channelWeights(), std::vector<double>{1.0});

    // A full-scale 997 Hz sine in one channel, silence in the others: the weight scales its
    // power. Surround channels count 1.41 times (+1.49 dB), the LFE channel not at all.
    struct Case {
        std::size_t channels;
        std::size_t loud;
        double expectedLUFS;
    };
    const double surround = -3.01 + 10.0 * std::log10(1.41);
    const Case cases[] = {{6, 0, -3.01},    {6, 2, -3.01}, {6, 3, -kInf}, {6, 4, surround},
                          {6, 5, surround}, {5, 4, -3.01}, {8, 7, -3.01}, {3, 2, -3.01}};
    Sine sine(997.0);
    const std::vector<float> tone = sine.next(kFramesPerSecond, 1.0);
    for (const Case& c : cases) {
        std::vector<std::vector<float>> channels(c.channels, silence(tone.size()));
        channels[c.loud] = tone;
        LoudnessAnalyzer analyzer(static_cast<int>(c.channels));
        const LoudnessSnapshot s = feed(analyzer, channels, 4800);
        if (std::isinf(c.expectedLUFS)) {
            EXPECT_EQ(s.momentaryLUFS, -kInf) << c.channels << " channels, loud " << c.loud;
            EXPECT_EQ(s.integratedLUFS, -70.0);
        } else {
            EXPECT_NEAR(s.momentaryLUFS, c.expectedLUFS, 0.01)
                << c.channels << " channels, loud " << c.loud;
        }
    }
}

TEST(LoudnessAnalyzer, OneLongBufferFiresSeveralHopsOnTheSameNewestSamples) {
    // 24 000 frames: 19 200 of silence, then 4 800 of tone. The five hops all read the tone,
    // so the momentary block (the newest four hops) holds nothing but tone.
    Sine sine(997.0);
    std::vector<float> samples = silence(19200);
    const std::vector<float> tone = sine.next(4800, 1.0);
    samples.insert(samples.end(), tone.begin(), tone.end());
    LoudnessAnalyzer analyzer(1);
    LoudnessSnapshot s = analyzer.process({samples});
    EXPECT_NEAR(s.momentaryLUFS, -3.01, 0.05);

    // Hops 6 to 9, then a remainder one frame short of the tenth.
    for (int hop = 6; hop <= 9; ++hop) {
        s = analyzer.process({sine.next(4800, 1.0)});
    }
    s = analyzer.process({sine.next(4799, 1.0)});
    EXPECT_EQ(s.integratedLUFS, -kInf) << "the tenth hop must wait for its last frame";
    s = analyzer.process({sine.next(1, 1.0)});
    EXPECT_NEAR(s.integratedLUFS, -3.01, 0.05) << "tenth hop";
}

TEST(LoudnessAnalyzer, MeasurementsWarmUpHopByHop) {
    // A tone whose level changes every second, in calls of 4 800 frames after a first short
    // call: then hop k fires in call k + 1.
    Sine sine(997.0);
    const auto amplitudeAt = [](std::size_t frame) { return (frame / 48000) % 2 == 0 ? 1.0 : 0.3; };
    LoudnessAnalyzer analyzer(2);

    const std::vector<float> first = sine.next(100, 1.0);
    LoudnessSnapshot s = analyzer.process({first, first});
    EXPECT_TRUE(std::isfinite(s.truePeakDBTP[0]));
    EXPECT_TRUE(std::isfinite(s.maxTruePeakDBTP[1]));
    EXPECT_TRUE(s.phaseCorrelation.has_value());
    EXPECT_FALSE(s.goniometerPoints.empty());
    EXPECT_TRUE(s.spectrumDB.empty());
    EXPECT_EQ(s.momentaryLUFS, -kInf);

    std::size_t frame = 100;
    for (int hop = 1; hop <= 41; ++hop) {
        const std::size_t length = hop == 1 ? 4700 : 4800;
        const std::vector<float> block = sine.next(length, amplitudeAt(frame));
        frame += length;
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
        if (hop < 40) {
            EXPECT_EQ(s.loudnessRangeLU, 0.0) << "hop " << hop;
        } else {
            EXPECT_GT(s.loudnessRangeLU, 1.0) << "hop " << hop;
        }
    }
}

TEST(LoudnessAnalyzer, StartsWithNothingMeasuredAndReadsDigitalSilenceAsSilence) {
    LoudnessAnalyzer fresh(3);
    const LoudnessSnapshot nothing = fresh.latestSnapshot();
    EXPECT_EQ(nothing.integratedLUFS, -kInf);
    EXPECT_EQ(nothing.truePeakDBTP.size(), 3u);
    EXPECT_FALSE(nothing.phaseCorrelation.has_value());
    EXPECT_TRUE(nothing.goniometerPoints.empty());
    EXPECT_TRUE(nothing.spectrumDB.empty());

    LoudnessAnalyzer analyzer(2);
    const std::vector<float> zeros = silence(4 * kFramesPerSecond);
    const LoudnessSnapshot quiet = feed(analyzer, {zeros, zeros}, 4096);
    for (const LoudnessSnapshot& s : {nothing, quiet}) {
        EXPECT_EQ(s.momentaryLUFS, -kInf);
        EXPECT_EQ(s.shortTermLUFS, -kInf);
        EXPECT_EQ(s.loudnessRangeLU, 0.0);
        EXPECT_EQ(s.truePeakDBTP, std::vector<double>(s.truePeakDBTP.size(), -kInf));
        EXPECT_EQ(s.maxTruePeakDBTP, s.truePeakDBTP);
    }
    EXPECT_EQ(quiet.truePeakDBTP.size(), 2u);
    EXPECT_EQ(quiet.integratedLUFS, -70.0);
    EXPECT_EQ(quiet.phaseCorrelation, 1.0);
    ASSERT_EQ(quiet.spectrumDB.size(), 2u);
    for (const auto& row : quiet.spectrumDB) {
        for (const float value : row) {
            ASSERT_NEAR(value, -120.0f, 1e-3f);
        }
    }
}

TEST(LoudnessAnalyzer, IgnoresBuffersThatDoNotFit) {
    const std::vector<float> signal = programme(3 * kFramesPerSecond, 1);
    LoudnessAnalyzer analyzer(2);
    LoudnessAnalyzer twin(2);
    const std::vector<float> head(signal.begin(), signal.begin() + 50000);
    const std::vector<float> tail(signal.begin() + 50000, signal.end());
    feed(analyzer, {head, head}, 4096);
    feed(twin, {head, head}, 4096);

    const LoudnessSnapshot before = analyzer.latestSnapshot();
    expectSameSnapshot(analyzer.process({}), before);
    expectSameSnapshot(analyzer.process({head, head, head}), before);
    expectSameSnapshot(analyzer.process({head}), before);
    expectSameSnapshot(analyzer.process({{}, head}), before);

    expectSameSnapshot(feed(analyzer, {tail, tail}, 4096), feed(twin, {tail, tail}, 4096));
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

TEST(LoudnessAnalyzer, NonFiniteSamplesAreMeasuredAsSilence) {
    std::vector<float> clean = programme(3 * kFramesPerSecond, 2);
    std::vector<float> broken = clean;
    for (const std::size_t i : {10u, 5000u, 5001u, 77777u, 100000u}) {
        clean[i] = 0.0f;
    }
    broken[10] = std::numeric_limits<float>::quiet_NaN();
    broken[5000] = std::numeric_limits<float>::infinity();
    broken[5001] = -std::numeric_limits<float>::infinity();
    broken[77777] = std::numeric_limits<float>::signaling_NaN();
    broken[100000] = -std::numeric_limits<float>::quiet_NaN();

    LoudnessAnalyzer analyzer(2);
    LoudnessAnalyzer twin(2);
    const LoudnessSnapshot s = feed(analyzer, {broken, clean}, 4096);
    expectSameSnapshot(s, feed(twin, {clean, clean}, 4096));
    EXPECT_TRUE(std::isfinite(s.integratedLUFS));
    EXPECT_TRUE(std::isfinite(s.maxTruePeakDBTP[0]));
}

TEST(LoudnessAnalyzer, ResultsDoNotDependOnHowTheAudioIsCut) {
    const std::vector<float> left = programme(5 * kFramesPerSecond, 3);
    const std::vector<float> right = programme(5 * kFramesPerSecond, 4);
    LoudnessAnalyzer reference(2);
    const LoudnessSnapshot expected = feed(reference, {left, right}, 4800);
    ASSERT_GT(expected.loudnessRangeLU, 0.0);
    // Hops fall on the same samples for any block size that divides the hop; the maximum true
    // peak carries its history across every buffer boundary.
    for (const std::size_t block : {480u, 1600u, 2400u, 127u, 1024u, 4095u, 4801u}) {
        LoudnessAnalyzer analyzer(2);
        const LoudnessSnapshot s = feed(analyzer, {left, right}, block);
        EXPECT_NEAR(s.maxTruePeakDBTP[0], expected.maxTruePeakDBTP[0], 1e-9) << block;
        EXPECT_NEAR(s.maxTruePeakDBTP[1], expected.maxTruePeakDBTP[1], 1e-9) << block;
        if (4800 % block == 0) {
            EXPECT_EQ(s.momentaryLUFS, expected.momentaryLUFS) << block;
            EXPECT_EQ(s.shortTermLUFS, expected.shortTermLUFS) << block;
            EXPECT_EQ(s.integratedLUFS, expected.integratedLUFS) << block;
            EXPECT_EQ(s.loudnessRangeLU, expected.loudnessRangeLU) << block;
        }
    }

    // Sample by sample, over the first 1.2 s (twelve hops).
    const std::vector<float> head(left.begin(), left.begin() + 57600);
    LoudnessAnalyzer headReference(1);
    LoudnessAnalyzer bySample(1);
    const LoudnessSnapshot headExpected = feed(headReference, {head}, 4800);
    const LoudnessSnapshot s = feed(bySample, {head}, 1);
    EXPECT_EQ(s.momentaryLUFS, headExpected.momentaryLUFS);
    EXPECT_EQ(s.integratedLUFS, headExpected.integratedLUFS);
    EXPECT_NEAR(s.maxTruePeakDBTP[0], headExpected.maxTruePeakDBTP[0], 1e-9);
    EXPECT_TRUE(std::isfinite(s.integratedLUFS));
}

TEST(LoudnessAnalyzer, StatisticsResetRestartsIntegratedRangeAndMaximumPeak) {
    // 30 s of a 997 Hz tone at -8 dBFS, a reset, then 10 s at 0 dBFS. The reset falls right
    // after an integrated update (hop 300).
    Sine sine(997.0);
    const std::vector<float> quiet = sine.next(30 * kFramesPerSecond, dbToAmplitude(-8.0));
    const std::vector<float> loud = sine.next(10 * kFramesPerSecond, 1.0);
    LoudnessAnalyzer analyzer(1);
    LoudnessAnalyzer twin(1);
    feed(analyzer, {quiet}, 4800);
    feed(twin, {quiet}, 4800);
    ASSERT_NEAR(analyzer.latestSnapshot().integratedLUFS, -11.01, 0.02);

    analyzer.resetLoudnessStatistics();
    EXPECT_EQ(analyzer.latestSnapshot().integratedLUFS, -kInf);
    EXPECT_EQ(analyzer.latestSnapshot().loudnessRangeLU, 0.0);
    EXPECT_EQ(analyzer.latestSnapshot().maxTruePeakDBTP, std::vector<double>{-kInf});

    // The first three blocks measured after the reset still overlap the quiet part by three, two
    // and one hops: power relative to the tone (3q + 1, 2q + 2, q + 3) / 4 with q = 10^(-0.8).
    const double q = std::pow(10.0, -0.8);
    const auto integratedAfter = [q](int loudBlocks) {
        const double overlap = (3 * q + 1) / 4 + (2 * q + 2) / 4 + (q + 3) / 4;
        return -3.01 + 10.0 * std::log10((overlap + loudBlocks) / (loudBlocks + 3));
    };
    // Both get the same blocks; every hop falls on a multiple of 4 800 frames.
    std::vector<std::size_t> cuts = {2400, 2400};
    cuts.insert(cuts.end(), 8, 4800);
    cuts.insert(cuts.end(), {4799, 1});
    cuts.insert(cuts.end(), 90, 4800);
    std::size_t at = 0;
    for (std::size_t k = 0; k < cuts.size(); ++k) {
        const std::vector<float> block(loud.begin() + static_cast<std::ptrdiff_t>(at),
                                       loud.begin() + static_cast<std::ptrdiff_t>(at + cuts[k]));
        at += cuts[k];
        const LoudnessSnapshot s = analyzer.process({block});
        const LoudnessSnapshot t = twin.process({block});
        // Momentary and short-term go on without a new warm-up.
        ASSERT_EQ(s.momentaryLUFS, t.momentaryLUFS) << "block " << k;
        ASSERT_EQ(s.shortTermLUFS, t.shortTermLUFS) << "block " << k;
        if (k == 0) {
            EXPECT_EQ(s.integratedLUFS, -kInf);
            EXPECT_EQ(s.maxTruePeakDBTP, s.truePeakDBTP);
            EXPECT_GT(s.maxTruePeakDBTP[0], -1.0);
        }
        if (at < 48000) {
            ASSERT_EQ(s.integratedLUFS, -kInf) << "block " << k;
            ASSERT_EQ(s.loudnessRangeLU, 0.0) << "block " << k;
        }
        if (at == 48000) {
            // Hop 310 covers the ten blocks measured since the reset.
            EXPECT_NEAR(s.integratedLUFS, integratedAfter(7), 0.01);
        }
    }
    // Ten seconds after the reset the integrated value covers the loud part alone; the twin
    // still averages both.
    EXPECT_NEAR(analyzer.latestSnapshot().integratedLUFS, integratedAfter(97), 0.01);
    EXPECT_LT(twin.latestSnapshot().integratedLUFS, -6.0);
    EXPECT_NEAR(analyzer.latestSnapshot().maxTruePeakDBTP[0], 0.0, 0.05);
    EXPECT_LT(analyzer.latestSnapshot().loudnessRangeLU, twin.latestSnapshot().loudnessRangeLU);
}

TEST(LoudnessAnalyzer, PhaseAndSpectrumResetClearsTheDisplayAnalyzersOnly) {
    const std::vector<float> left = programme(2 * kFramesPerSecond, 6);
    const std::vector<float> right = programme(2 * kFramesPerSecond, 7);
    LoudnessAnalyzer analyzer(2);
    LoudnessAnalyzer twin(2);
    // 4 000 frames past the last hop, so that the next 800 frames fire a hop.
    const std::size_t head = 10 * 4800 - 800;
    const std::vector<float> headLeft(left.begin(), left.begin() + head);
    const std::vector<float> headRight(right.begin(), right.begin() + head);
    feed(analyzer, {headLeft, headRight}, 4800);
    feed(twin, {headLeft, headRight}, 4800);

    const LoudnessSnapshot before = analyzer.latestSnapshot();
    analyzer.resetPhaseAndSpectrum();
    const LoudnessSnapshot& cleared = analyzer.latestSnapshot();
    EXPECT_TRUE(cleared.goniometerPoints.empty());
    EXPECT_EQ(cleared.phaseCorrelation, before.phaseCorrelation);
    EXPECT_EQ(cleared.spectrumDB, before.spectrumDB);
    EXPECT_EQ(cleared.integratedLUFS, before.integratedLUFS);

    // The next hop comes after only 800 new samples: the spectrum rows read the floor.
    std::size_t at = head;
    auto next = [&](std::size_t frames) {
        ChannelBuffers block{{left.begin() + static_cast<std::ptrdiff_t>(at),
                              left.begin() + static_cast<std::ptrdiff_t>(at + frames)},
                             {right.begin() + static_cast<std::ptrdiff_t>(at),
                              right.begin() + static_cast<std::ptrdiff_t>(at + frames)}};
        at += frames;
        twin.process(block);
        return analyzer.process(block);
    };
    LoudnessSnapshot s = next(800);
    for (const auto& row : s.spectrumDB) {
        for (const float value : row) {
            ASSERT_EQ(value, -120.0f);
        }
    }
    EXPECT_EQ(s.goniometerPoints.size(), (800u + 23u) / 24u);
    // Loudness goes on as if nothing had happened.
    EXPECT_EQ(s.integratedLUFS, twin.latestSnapshot().integratedLUFS);
    EXPECT_EQ(s.momentaryLUFS, twin.latestSnapshot().momentaryLUFS);

    s = next(3000);
    s = next(4800);  // 8 600 samples since the reset
    for (const auto& row : s.spectrumDB) {
        EXPECT_GT(*std::max_element(row.begin(), row.end()), -100.0f);
    }
}

TEST(LoudnessAnalyzer, GoniometerKeepsTheNewest2000Points) {
    const std::vector<float> left = programme(kFramesPerSecond, 8);
    const std::vector<float> right = programme(kFramesPerSecond, 9);
    LoudnessAnalyzer analyzer(2);
    LoudnessAnalyzer lastBlockOnly(2);
    const LoudnessSnapshot s = feed(analyzer, {left, right}, 4096);
    ASSERT_EQ(s.goniometerPoints.size(), 2000u);
    // The newest points are those of the last buffer, last.
    const std::size_t lastStart = (left.size() - 1) / 4096 * 4096;
    const LoudnessSnapshot last = lastBlockOnly.process(
        {{left.begin() + static_cast<std::ptrdiff_t>(lastStart), left.end()},
         {right.begin() + static_cast<std::ptrdiff_t>(lastStart), right.end()}});
    ASSERT_FALSE(last.goniometerPoints.empty());
    EXPECT_TRUE(std::equal(last.goniometerPoints.rbegin(), last.goniometerPoints.rend(),
                           s.goniometerPoints.rbegin()));

    LoudnessAnalyzer mono(1);
    const LoudnessSnapshot m = feed(mono, {left}, 4096);
    EXPECT_TRUE(m.goniometerPoints.empty());
    EXPECT_FALSE(m.phaseCorrelation.has_value());
}

TEST(LoudnessAnalyzer, ReportsItsStageTimesAtMostEveryTwoSeconds) {
    // A clock the test moves by hand; every reading moves it on by a quarter millisecond, so
    // each timed stage takes exactly that long.
    auto now = std::make_shared<std::chrono::steady_clock::time_point>();
    LoudnessAnalyzer analyzer(2, [now] { return *now += 250us; });
    std::vector<LoudnessAnalyzer::StageBreakdown> reports;
    analyzer.onStageBreakdown = [&reports](const auto& report) { reports.push_back(report); };
    const ChannelBuffers block(2, std::vector<float>(2048, 0.1f));

    // Six calls of 2 048 frames, hops firing in the third and the fifth; the sixth comes 2 s
    // after construction. An ignored call in between is not counted.
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
