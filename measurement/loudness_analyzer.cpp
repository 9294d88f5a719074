#include "measurement/loudness_analyzer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "measurement/loudness_statistics.h"
#include "measurement/stereo_phase.h"

namespace orvinta {

namespace {

constexpr double kNegativeInfinity = -std::numeric_limits<double>::infinity();
// Sixteen taps per phase and a Kaiser beta of 5: the passband stays within +0.02/-0.19 dB up to
// 20 kHz (12 taps at beta 8.6 droop by 0.5 dB at 18 kHz and read band-limited programme low),
// and every image of the band up to 20 kHz lies at least 33 dB down.
constexpr int kTruePeakOversampling = 4;
constexpr int kTruePeakTapsPerPhase = 16;
constexpr double kTruePeakKaiserBeta = 5.0;
constexpr int kHopsPerIntegratedUpdate = 10;
constexpr auto kStageLogInterval = std::chrono::seconds(2);

std::vector<double> weightsFor(int channelCount) {
    if (channelCount == 6) {
        // Left, right, centre, low-frequency effects (not counted), left and right surround.
        return {1.0, 1.0, 1.0, 0.0, 1.41, 1.41};
    }
    return std::vector<double>(static_cast<std::size_t>(channelCount), 1.0);
}

bool allFinite(std::span<const float> samples) {
    // A float is infinite or not a number exactly when its exponent bits are all ones.
    constexpr std::uint32_t kExponentMask = 0x7f800000u;
    std::uint32_t nonFinite = 0;
    for (const float sample : samples) {
        nonFinite |= static_cast<std::uint32_t>(
            (std::bit_cast<std::uint32_t>(sample) & kExponentMask) == kExponentMask);
    }
    return nonFinite == 0;
}

double sumOfSquares(std::span<const float> samples) {
    // Eight independent partial sums, so that the additions do not wait on one another and
    // the compiler can pair them in vector registers.
    constexpr std::size_t kPartials = 8;
    double partial[kPartials] = {};
    const std::size_t n = samples.size();
    std::size_t i = 0;
    for (; i + kPartials <= n; i += kPartials) {
        for (std::size_t k = 0; k < kPartials; ++k) {
            const double x = static_cast<double>(samples[i + k]);
            partial[k] += x * x;
        }
    }
    for (; i < n; ++i) {
        const double x = static_cast<double>(samples[i]);
        partial[0] += x * x;
    }
    double sum = 0.0;
    for (const double p : partial) {
        sum += p;
    }
    return sum;
}

double elapsedMs(std::chrono::steady_clock::time_point from,
                 std::chrono::steady_clock::time_point to) {
    return static_cast<double>(
               std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count()) /
           1'000'000.0;
}

}  // namespace

void LoudnessAnalyzer::HopSums::append(double sumSq) {
    values[static_cast<std::size_t>(next)] = sumSq;
    next = (next + 1) % hopsPerShortTerm;
    filled = std::min(filled + 1, hopsPerShortTerm);
}

double LoudnessAnalyzer::HopSums::newest(int hops) const {
    double sum = 0.0;
    for (int k = 1; k <= hops; ++k) {
        sum += values[static_cast<std::size_t>((next - k + hopsPerShortTerm) % hopsPerShortTerm)];
    }
    return sum;
}

LoudnessAnalyzer::LoudnessAnalyzer(int channelCount) : LoudnessAnalyzer(channelCount, Clock()) {}

LoudnessAnalyzer::LoudnessAnalyzer(int channelCount, Use use)
    : LoudnessAnalyzer(channelCount, weightsFor(std::max(channelCount, 1)), Clock(), use) {}

LoudnessAnalyzer::LoudnessAnalyzer(int channelCount, Clock clockSource)
    : LoudnessAnalyzer(channelCount, weightsFor(std::max(channelCount, 1)), std::move(clockSource),
                       Use::liveMeter) {}

LoudnessAnalyzer::LoudnessAnalyzer(std::span<const ChannelPosition> positions, Use use)
    : LoudnessAnalyzer(static_cast<int>(positions.size()),
                       positions.empty() ? weightsFor(1) : orvinta::channelWeights(positions),
                       Clock(), use) {}

LoudnessAnalyzer::LoudnessAnalyzer(int channelCount, std::vector<double> channelWeights,
                                   Clock clockSource, Use purpose)
    : channels(std::max(channelCount, 1)),
      use(purpose),
      weights(std::move(channelWeights)),
      kFilters(static_cast<std::size_t>(channels)),
      clock(std::move(clockSource)) {
    const auto count = static_cast<std::size_t>(channels);
    truePeakDetectors.reserve(count);
    ringBuffers.reserve(count);
    spectrumAnalyzers.reserve(count);
    for (int c = 0; c < channels; ++c) {
        truePeakDetectors.emplace_back(kTruePeakOversampling, kTruePeakTapsPerPhase,
                                       kTruePeakKaiserBeta);
        ringBuffers.emplace_back(shortTermSize);
        if (use == Use::liveMeter) {
            spectrumAnalyzers.push_back(
                std::make_unique<SpectrumAnalyzer>(spectrumFftSize, sampleRate));
        }
    }
    hopSumSqHistory.resize(count);
    latest.goniometerPoints.reserve(goniometerMaxPoints);
    input.resize(count);
    sanitized.resize(count);
    weighted.resize(count);
    weightedSpans.resize(count);
    hopSquares.resize(count);

    if (!clock) {
        clock = [] { return std::chrono::steady_clock::now(); };
    }
    latest.truePeakDBTP.assign(count, kNegativeInfinity);
    latest.maxTruePeakDBTP.assign(count, kNegativeInfinity);
    lastStageLogTime = clock();
}

const LoudnessSnapshot& LoudnessAnalyzer::process(const ChannelBuffers& buffers) {
    if (buffers.empty() || buffers.size() != static_cast<std::size_t>(channels) ||
        buffers[0].empty()) {
        return latest;
    }
    const auto frames = static_cast<std::int64_t>(buffers[0].size());
    prepareInput(buffers);
    const auto t0 = clock();

    for (std::size_t c = 0; c < input.size(); ++c) {
        TruePeakDetector& detector = truePeakDetectors[c];
        if (use == Use::liveMeter) {
            detector.process(input[c]);
            latest.truePeakDBTP[c] = detector.currentPeakDBTP();
        } else {
            detector.processForMaximum(input[c]);
        }
        latest.maxTruePeakDBTP[c] = detector.maxPeakDBTP();
    }
    const auto truePeakEnd = clock();

    if (use == Use::liveMeter) {
        runPhaseStage();
        for (std::size_t c = 0; c < input.size(); ++c) {
            spectrumAnalyzers[c]->push(input[c]);
        }
    }

    // The K-weighting writes each channel's filtered copy straight from the input.
    for (std::size_t c = 0; c < input.size(); ++c) {
        weighted[c].resize(input[c].size());
        weightedSpans[c] = weighted[c];
    }
    const auto kWeightStart = clock();
    KWeightingFilter::processChannels(kFilters, input, weightedSpans);
    const auto kWeightEnd = clock();
    for (std::size_t c = 0; c < input.size(); ++c) {
        ringBuffers[c].write(weightedSpans[c]);
    }
    const auto ringWriteEnd = clock();

    samplesSinceLastHop += frames;
    const auto hops = static_cast<int>(samplesSinceLastHop / hopSize);
    samplesSinceLastHop %= hopSize;
    if (hops > 0) {
        evaluateHops(hops);
    }
    const auto hopEnd = clock();

    recordStageTimes(elapsedMs(t0, truePeakEnd), elapsedMs(kWeightStart, kWeightEnd),
                     elapsedMs(kWeightEnd, ringWriteEnd), elapsedMs(ringWriteEnd, hopEnd), hops > 0,
                     hopEnd);
    return latest;
}

void LoudnessAnalyzer::prepareInput(const ChannelBuffers& buffers) {
    for (std::size_t c = 0; c < buffers.size(); ++c) {
        const std::vector<float>& samples = buffers[c];
        if (allFinite(samples)) {
            input[c] = samples;
            continue;
        }
        // A sample that is infinite or not a number would stay in the filters' and detectors'
        // state for the rest of the run; it is measured as silence instead.
        std::vector<float>& copy = sanitized[c];
        copy.resize(samples.size());
        std::transform(samples.begin(), samples.end(), copy.begin(),
                       [](float x) { return std::isfinite(x) ? x : 0.0f; });
        input[c] = copy;
    }
}

void LoudnessAnalyzer::runPhaseStage() {
    // The snapshot's point list is the goniometer buffer itself, which spares a copy.
    std::vector<GoniometerPoint>& buffer = latest.goniometerPoints;
    if (channels < 2) {
        latest.phaseCorrelation.reset();
        buffer.clear();
        return;
    }
    latest.phaseCorrelation = computePhaseCorrelation(input[0], input[1]);
    const std::vector<GoniometerPoint> points = makeGoniometerPoints(input[0], input[1]);
    const auto maxPoints = static_cast<std::size_t>(goniometerMaxPoints);
    if (points.size() >= maxPoints) {
        buffer.assign(points.end() - static_cast<std::ptrdiff_t>(maxPoints), points.end());
        return;
    }
    const std::size_t total = buffer.size() + points.size();
    if (total > maxPoints) {
        buffer.erase(buffer.begin(),
                     buffer.begin() + static_cast<std::ptrdiff_t>(total - maxPoints));
    }
    buffer.insert(buffer.end(), points.begin(), points.end());
}

void LoudnessAnalyzer::evaluateHops(int hops) {
    // Every hop of one call reads the same newest hopSize samples, so their sums of squares
    // are taken once. A ring that cannot supply them abandons the hops before any channel's
    // list changes, which keeps the channels' hop lists aligned.
    for (std::size_t c = 0; c < ringBuffers.size(); ++c) {
        const std::optional<RingBuffer::Segments> newest = ringBuffers[c].viewLast(hopSize);
        if (!newest) {
            return;
        }
        hopSquares[c] = sumOfSquares(newest->older) + sumOfSquares(newest->newer);
    }

    for (int hop = 0; hop < hops; ++hop) {
        for (std::size_t c = 0; c < hopSumSqHistory.size(); ++c) {
            hopSumSqHistory[c].append(hopSquares[c]);
        }
        // The channels' lists always grow together, so the first one tells the warm-up.
        const int available = hopSumSqHistory[0].size();
        if (available >= hopsPerMomentary) {
            double power = 0.0;
            for (std::size_t c = 0; c < hopSumSqHistory.size(); ++c) {
                power += weights[c] * hopSumSqHistory[c].newest(hopsPerMomentary) / blockSize;
            }
            latest.momentaryLUFS = powerToLUFS(power);
            latest.maxMomentaryLUFS = std::max(latest.maxMomentaryLUFS, latest.momentaryLUFS);
            momentaryHistogram.add(power);
        }
        if (available >= hopsPerShortTerm) {
            double power = 0.0;
            for (std::size_t c = 0; c < hopSumSqHistory.size(); ++c) {
                power += weights[c] * hopSumSqHistory[c].newest(hopsPerShortTerm) / shortTermSize;
            }
            latest.shortTermLUFS = powerToLUFS(power);
            shortTermHistogram.add(power);
        }
        ++hopsSinceLastIntegratedUpdate;
        if (hopsSinceLastIntegratedUpdate >= kHopsPerIntegratedUpdate) {
            hopsSinceLastIntegratedUpdate = 0;
            // A later hop of this same call recomputes both before anyone reads them.
            if (hop + kHopsPerIntegratedUpdate >= hops) {
                latest.integratedLUFS = momentaryHistogram.integratedLUFS();
                latest.loudnessRangeLU = shortTermHistogram.loudnessRangeLU();
            }
        }
        updateSpectrum();
    }
}

void LoudnessAnalyzer::updateSpectrum() {
    if (use == Use::fileScan) {
        return;
    }
    latest.spectrumDB.resize(spectrumAnalyzers.size());
    for (std::size_t c = 0; c < spectrumAnalyzers.size(); ++c) {
        std::vector<float>& row = latest.spectrumDB[c];
        if (!spectrumAnalyzers[c]->computeInto(spectrumBinCount, spectrumMinHz, spectrumMaxHz,
                                               row)) {
            row.assign(static_cast<std::size_t>(spectrumBinCount), spectrumFloorDB);
        }
    }
}

void LoudnessAnalyzer::recordStageTimes(double truePeakMs, double kWeightMs, double ringWriteMs,
                                        double hopEvalMs, bool hopFired,
                                        std::chrono::steady_clock::time_point now) {
    StageTimes& t = stageTimes;
    ++t.callCount;
    t.sumTruePeakMs += truePeakMs;
    t.maxTruePeakMs = std::max(t.maxTruePeakMs, truePeakMs);
    t.sumKWeightMs += kWeightMs;
    t.maxKWeightMs = std::max(t.maxKWeightMs, kWeightMs);
    t.sumRingWriteMs += ringWriteMs;
    t.maxRingWriteMs = std::max(t.maxRingWriteMs, ringWriteMs);
    if (hopFired) {
        ++t.hopEvalCallCount;
        t.sumHopEvalMs += hopEvalMs;
        t.maxHopEvalMs = std::max(t.maxHopEvalMs, hopEvalMs);
    }
    if (now - lastStageLogTime < kStageLogInterval) {
        return;
    }

    if (onStageBreakdown) {
        const auto average = [](double sum, std::int64_t count) {
            return count > 0 ? sum / static_cast<double>(count) : 0.0;
        };
        onStageBreakdown({t.callCount, t.hopEvalCallCount, average(t.sumTruePeakMs, t.callCount),
                          t.maxTruePeakMs, average(t.sumKWeightMs, t.callCount), t.maxKWeightMs,
                          average(t.sumRingWriteMs, t.callCount), t.maxRingWriteMs,
                          average(t.sumHopEvalMs, t.hopEvalCallCount), t.maxHopEvalMs});
    }
    stageTimes = StageTimes{};
    lastStageLogTime = now;
}

void LoudnessAnalyzer::resetLoudnessStatistics() {
    momentaryHistogram.clear();
    shortTermHistogram.clear();
    for (TruePeakDetector& detector : truePeakDetectors) {
        detector.resetMaxPeak();
    }
    latest.integratedLUFS = kNegativeInfinity;
    latest.loudnessRangeLU = 0.0;
    latest.maxMomentaryLUFS = kNegativeInfinity;
    latest.maxTruePeakDBTP.assign(static_cast<std::size_t>(channels), kNegativeInfinity);
}

void LoudnessAnalyzer::resetPhaseAndSpectrum() {
    latest.goniometerPoints.clear();
    for (auto& analyzer : spectrumAnalyzers) {
        analyzer->reset();
    }
}

}  // namespace orvinta
