#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "measurement/channel_position.h"
#include "measurement/k_weighting_filter.h"
#include "measurement/loudness_histogram.h"
#include "measurement/loudness_snapshot.h"
#include "measurement/ring_buffer.h"
#include "measurement/spectrum_analyzer.h"
#include "measurement/true_peak_detector.h"

namespace orvinta {

// The measuring core: takes successive multichannel buffers at 48 kHz and keeps momentary,
// short-term and gated integrated loudness, loudness range and per-channel true peak current
// after BS.1770 / EBU R128, and feeds the spectrum analyzers and the stereo phase analysis.
// The loudness engine builds one per metering run and drives it, construction, process() and
// both resets, from its serial processing queue only; there is no locking. process() returns
// the analyzer's own current snapshot: a caller that hands it to another thread copies it.
class LoudnessAnalyzer {
public:
    // The monotonic clock behind the stage timing.
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // The stage timing of the process() calls since the previous report, in milliseconds.
    // Calls ignored for not fitting are not counted.
    struct StageBreakdown {
        std::int64_t callCount = 0;
        std::int64_t hopEvalCallCount = 0;  // the calls in which at least one hop fired
        double avgTruePeakMs = 0.0, maxTruePeakMs = 0.0;
        double avgKWeightMs = 0.0, maxKWeightMs = 0.0;
        double avgRingWriteMs = 0.0, maxRingWriteMs = 0.0;
        // Over the calls in which a hop fired only.
        double avgHopEvalMs = 0.0, maxHopEvalMs = 0.0;
    };

    static constexpr double sampleRate = 48000.0;
    static constexpr int blockSize = 19200;       // 400 ms: the momentary window
    static constexpr int hopSize = 4800;          // 100 ms between evaluations (hops)
    static constexpr int shortTermSize = 144000;  // 3 s: short-term window, ring capacity
    static constexpr int hopsPerMomentary = 4;
    static constexpr int hopsPerShortTerm = 30;
    static constexpr int goniometerMaxPoints = 2000;
    static constexpr int spectrumFftSize = 4096;
    static constexpr int spectrumBinCount = 192;
    static constexpr double spectrumMinHz = 20.0;
    static constexpr double spectrumMaxHz = 20000.0;
    static constexpr float spectrumFloorDB = -120.0f;

    // What the snapshots are read for. A file scan reads the loudness values and the maximum
    // true peaks only: the spectrum, the stereo phase and each buffer's own true peak are not
    // computed (spectrumDB and goniometerPoints stay empty, phaseCorrelation absent,
    // truePeakDBTP negative infinity); every other reading is the same as the live meter's.
    enum class Use { liveMeter, fileScan };

    // A channel count below 1 is taken as 1. The stage timing reads the steady clock.
    explicit LoudnessAnalyzer(int channelCount);
    LoudnessAnalyzer(int channelCount, Use use);
    // The same with another clock for the stage timing; an empty one means the steady clock.
    LoudnessAnalyzer(int channelCount, Clock clock);
    // Weights each channel after its position (BS.1770-4) instead of after the channel count;
    // the channel count is the number of positions. An empty list is one channel.
    explicit LoudnessAnalyzer(std::span<const ChannelPosition> positions, Use use = Use::liveMeter);

    LoudnessAnalyzer(const LoudnessAnalyzer&) = delete;
    LoudnessAnalyzer& operator=(const LoudnessAnalyzer&) = delete;

    // Takes one buffer per channel into account and returns the current measurements, valid
    // until the next call of any non-const member. A call without channels, with another
    // channel count or with an empty first channel changes nothing.
    const LoudnessSnapshot& process(const ChannelBuffers& buffers);

    // Clears the integrated loudness, the loudness range and the maximum true peaks, and the
    // block histories behind them; momentary and short-term loudness go on without a new
    // warm-up.
    void resetLoudnessStatistics();
    // Clears the goniometer points and restarts every spectrum analyzer.
    void resetPhaseAndSpectrum();

    int channelCount() const { return channels; }
    const std::vector<double>& channelWeights() const { return weights; }
    const LoudnessSnapshot& latestSnapshot() const { return latest; }

    // Called from process() with the stage timing since the previous report, at most once
    // every 2 s and the first time 2 s after construction; the engine prints it. May be empty.
    std::function<void(const StageBreakdown&)> onStageBreakdown;

private:
    // Sums of squares of the newest hops of one channel, at most hopsPerShortTerm of them.
    class HopSums {
    public:
        void append(double sumSq);
        int size() const { return filled; }
        // Sum of the newest `hops` entries (hops <= size()).
        double newest(int hops) const;

    private:
        std::array<double, hopsPerShortTerm> values{};
        int next = 0;
        int filled = 0;
    };

    struct StageTimes {
        std::int64_t callCount = 0;
        double sumTruePeakMs = 0.0, maxTruePeakMs = 0.0;
        double sumKWeightMs = 0.0, maxKWeightMs = 0.0;
        double sumRingWriteMs = 0.0, maxRingWriteMs = 0.0;
        std::int64_t hopEvalCallCount = 0;
        double sumHopEvalMs = 0.0, maxHopEvalMs = 0.0;
    };

    // The channels' samples as the stages see them: the caller's buffers, or copies with every
    // non-finite sample replaced by silence.
    void prepareInput(const ChannelBuffers& buffers);
    void runPhaseStage();
    // Evaluates `hops` hops in a row; all of them read the same newest hopSize samples.
    void evaluateHops(int hops);
    void updateSpectrum();
    void recordStageTimes(double truePeakMs, double kWeightMs, double ringWriteMs, double hopEvalMs,
                          bool hopFired, std::chrono::steady_clock::time_point now);

    LoudnessAnalyzer(int channelCount, std::vector<double> channelWeights, Clock clock, Use use);

    int channels;
    Use use;
    std::vector<double> weights;
    std::vector<KWeightingFilter> kFilters;
    std::vector<TruePeakDetector> truePeakDetectors;
    std::vector<RingBuffer> ringBuffers;
    std::vector<std::unique_ptr<SpectrumAnalyzer>> spectrumAnalyzers;
    std::vector<HopSums> hopSumSqHistory;
    // Every momentary block and short-term window since the start or the last statistics reset.
    LoudnessHistogram momentaryHistogram;
    LoudnessHistogram shortTermHistogram;
    std::int64_t samplesSinceLastHop = 0;
    int hopsSinceLastIntegratedUpdate = 0;

    Clock clock;
    StageTimes stageTimes;
    std::chrono::steady_clock::time_point lastStageLogTime;

    // The current measurements; its goniometer list is also the goniometer point buffer
    // (newest last, at most goniometerMaxPoints).
    LoudnessSnapshot latest;

    // Working memory reused from call to call; it grows to the largest buffer seen.
    std::vector<std::span<const float>> input;
    std::vector<std::vector<float>> sanitized;
    std::vector<std::vector<float>> weighted;
    std::vector<std::span<float>> weightedSpans;
    std::vector<double> hopSquares;
};

}  // namespace orvinta
