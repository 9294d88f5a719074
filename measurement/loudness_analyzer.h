#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "measurement/channel_position.h"
#include "measurement/k_weighting_filter.h"
#include "measurement/loudness_snapshot.h"
#include "measurement/power_history.h"
#include "measurement/ring_buffer.h"
#include "measurement/spectrum_analyzer.h"
#include "measurement/true_peak_detector.h"

namespace orvinta {

// The measuring core: takes successive multichannel buffers at 48 kHz and keeps momentary,
// short-term and gated integrated loudness, loudness range and per-channel true peak current
// after BS.1770 / EBU R128, and feeds the spectrum analyzers and the stereo phase analysis.
// The loudness engine builds one per metering run and drives it, construction, process() and
// both resets, from its serial processing queue only; there is no locking. The snapshot that
// process() returns is an independent copy that may travel to other threads.
class LoudnessAnalyzer {
public:
    // A monotonic clock for the stage timing, and where the stage-breakdown line goes.
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using LineSink = std::function<void(std::string_view)>;

    static constexpr double sampleRate = 48000.0;
    static constexpr int blockSize = 19200;          // 400 ms: the momentary window
    static constexpr int hopSize = 4800;             // 100 ms between evaluations (hops)
    static constexpr int shortTermSize = 144000;     // 3 s: short-term window, ring capacity
    static constexpr int maxHistoryBlocks = 144000;  // 4 hours of hops
    static constexpr int hopsPerMomentary = 4;
    static constexpr int hopsPerShortTerm = 30;
    static constexpr int goniometerMaxPoints = 2000;
    static constexpr int spectrumFftSize = 4096;
    static constexpr int spectrumBinCount = 192;
    static constexpr double spectrumMinHz = 20.0;
    static constexpr double spectrumMaxHz = 20000.0;
    static constexpr float spectrumFloorDB = -120.0f;

    // A channel count below 1 is taken as 1. The stage timing reads the steady clock and
    // prints its line to standard output.
    explicit LoudnessAnalyzer(int channelCount);
    // The same with another clock and line sink (tests drive the stage timing with these);
    // an empty clock means the steady clock, an empty sink prints nothing.
    LoudnessAnalyzer(int channelCount, Clock clock, LineSink stageLog);
    // Weights each channel after its position (BS.1770-4) instead of after the channel count;
    // the channel count is the number of positions. An empty list is one channel.
    explicit LoudnessAnalyzer(std::span<const ChannelPosition> positions);

    LoudnessAnalyzer(const LoudnessAnalyzer&) = delete;
    LoudnessAnalyzer& operator=(const LoudnessAnalyzer&) = delete;

    // Takes one buffer per channel into account and returns the current measurements. A call
    // without channels, with another channel count or with an empty first channel changes
    // nothing and returns the current measurements.
    LoudnessSnapshot process(const ChannelBuffers& buffers);

    // Clears the integrated loudness, the loudness range and the maximum true peaks, and the
    // block histories behind them; momentary and short-term loudness go on without a new
    // warm-up.
    void resetLoudnessStatistics();
    // Clears the goniometer points and restarts every spectrum analyzer.
    void resetPhaseAndSpectrum();

    int channelCount() const { return channels; }
    const std::vector<double>& channelWeights() const { return weights; }
    const LoudnessSnapshot& latestSnapshot() const { return latest; }

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

    LoudnessAnalyzer(int channelCount, std::vector<double> channelWeights, Clock clock,
                     LineSink stageLog);

    int channels;
    std::vector<double> weights;
    std::vector<KWeightingFilter> kFilters;
    std::vector<TruePeakDetector> truePeakDetectors;
    std::vector<RingBuffer> ringBuffers;
    std::vector<std::unique_ptr<SpectrumAnalyzer>> spectrumAnalyzers;
    std::vector<HopSums> hopSumSqHistory;
    PowerHistory momentaryHistory;
    PowerHistory shortTermHistory;
    std::int64_t samplesSinceLastHop = 0;
    int hopsSinceLastIntegratedUpdate = 0;

    Clock clock;
    LineSink stageLog;
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
    std::vector<double> rangeScratch;
};

}  // namespace orvinta
