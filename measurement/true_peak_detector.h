#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace orvinta {

// Estimates the true (inter-sample) peak of one channel: the signal is interpolated to
// oversampleFactor times its rate by a polyphase Kaiser-windowed sinc, and the largest absolute
// interpolated value of each buffer is reported in dBTP. The loudness analyzer owns one per channel
// and drives it on the engine's processing queue; no locking.
class TruePeakDetector {
public:
    // The Kaiser window parameter of the two-argument constructor.
    static constexpr double defaultKaiserBeta = 8.6;

    // Designs the coefficient table. Both arguments must be at least 1 (std::invalid_argument).
    TruePeakDetector(int oversampleFactor, int tapsPerPhase);
    // The same with another Kaiser window parameter (at least 0): a smaller one trades image
    // rejection for a passband that stays flat closer to the cut-off at half the input rate.
    TruePeakDetector(int oversampleFactor, int tapsPerPhase, double kaiserBeta);

    // Interpolates one buffer. The filter history and the maximum carry over from buffer to
    // buffer; an empty buffer changes nothing. Never allocates.
    void process(std::span<const float> samples);

    // True peak of the latest non-empty buffer; negative infinity before the first one or when
    // every interpolated point of it was zero.
    double currentPeakDBTP() const { return currentPeakDBTP_; }
    // Highest currentPeakDBTP since construction or the last resetMaxPeak().
    double maxPeakDBTP() const { return maxPeakDBTP_; }
    // Sets maxPeakDBTP back to negative infinity; the filter history is kept.
    void resetMaxPeak();

    // For a caller that reads maxPeakDBTP only: like process(), but a stretch of input whose
    // interpolated points cannot exceed the maximum so far is not interpolated. The bound is
    // exact (largest |sample| reaching the stretch times the largest sum of |coefficient| of a
    // branch), so maxPeakDBTP ends up the same as with process(); currentPeakDBTP is not kept.
    void processForMaximum(std::span<const float> samples);

    int oversampleFactor() const { return oversampleFactor_; }
    int tapsPerPhase() const { return tapsPerPhase_; }
    // The branch coefficients, branch after branch: entry p * tapsPerPhase + k is tap k of
    // branch p, applied to the input sample k places back (k = 0 is the newest).
    const std::vector<double>& polyphaseFlat() const { return polyphaseFlat_; }

    // The modified Bessel function I0 by its power series, evaluated from a = (x/2)^2. The sum
    // stops after the term for k = 30 or after the first term below 1e-14.
    static double besselI0FromQuarterSquare(double a);

private:
    // Input samples of one chunk are converted into a contiguous double buffer prefixed by the
    // previous tapsPerPhase - 1 samples, so no per-sample shifting is needed.
    static constexpr int kChunkSamples = 1024;
    // processForMaximum() bounds the interpolated points of a chunk in stretches of this many.
    static constexpr std::size_t kSkipStretch = 64;

    // Appends a chunk to the history and returns the largest |interpolated point| of it. With
    // skipAtOrBelow >= 0, stretches whose points cannot exceed it (nor the peak found so far)
    // are not interpolated and count as 0.
    double processChunk(std::span<const float> samples, double skipAtOrBelow);
    // Largest |interpolated point| for `count` input samples, history holding taps - 1 earlier
    // samples before them.
    double peakOfPoints(const double* history, std::size_t count);

    int oversampleFactor_;
    int tapsPerPhase_;
    std::vector<double> polyphaseFlat_;
    // Branch coefficients in time order (oldest tap first): reversedBranches_[p * T + j] is
    // polyphaseFlat_[p * T + (T - 1 - j)].
    std::vector<double> reversedBranches_;
    // For four mirrored branches and an even tap count: half sums and half differences of
    // mirrored taps, see the vectorised path. Empty otherwise.
    std::vector<double> mirroredPairs_;
    // [0, T - 1): the last T - 1 input samples, oldest first; then room for one chunk.
    std::vector<double> history_;
    // Per-branch sums of one chunk for the portable path.
    std::vector<double> scratch_;
    // The largest sum of |coefficient| over the branches: no interpolated point exceeds it
    // times the largest |sample| under the taps.
    double largestBranchGain_ = 0.0;
    double currentPeakDBTP_;
    double maxPeakDBTP_;
    // maxPeakDBTP as a linear value, for the bound of processForMaximum().
    double maxPeakLinear_ = 0.0;
};

}  // namespace orvinta
