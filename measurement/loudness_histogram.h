#pragma once

#include <cstdint>
#include <vector>

namespace orvinta {

// The gated statistics of a whole run in constant memory: every block power that passes the
// absolute gate (above -70 LUFS) lands in a bin 0.005 LU wide, which keeps how many blocks it
// holds and the sum of their powers. Integrated loudness and loudness range then need one pass
// over the bins instead of over every block of the run, however long it lasts.
//
// The relative gate takes or leaves a bin as a whole, after the mean power of its blocks, and a
// percentile reads the mean loudness of the bin that holds its rank; both are exact when a bin
// holds equal blocks and otherwise off by less than one bin width, so the loudness range stays
// within 0.01 LU of a computation over the full list. Blocks beyond +30 LUFS share the top bin;
// their powers still count in full.
//
// Owned by the loudness analyzer (one for the momentary blocks, one for the short-term
// windows) and used on the engine's processing queue only. All memory is taken at
// construction: add() never allocates.
class LoudnessHistogram {
public:
    static constexpr int floorLUFS = -70;
    static constexpr int ceilingLUFS = 30;
    static constexpr int binsPerLU = 200;  // bins 0.005 LU wide

    LoudnessHistogram();

    // Takes one channel-weighted mean-square power into account. Powers at or below the
    // absolute gate (zero included) count as measured blocks but enter no bin.
    void add(double power);
    void clear();

    // Every power added since construction or the last clear(), gated or not.
    std::int64_t size() const { return valueCount; }

    // Gated integrated loudness: the mean power of the blocks above the absolute gate and above
    // the relative gate 10 LU under their mean. Negative infinity when nothing was added, -70.0
    // when no block passed the absolute gate.
    double integratedLUFS() const;
    // Loudness range: the 95th minus the 10th percentile of the loudness of the values above the
    // absolute gate and above the relative gate 20 LU under their mean, interpolated between
    // the two closest ranks. 0.0 when fewer than two values pass the gates.
    double loudnessRangeLU() const;

private:
    struct Bin {
        std::int64_t count = 0;
        double powerSum = 0.0;
    };

    // The bins from the one holding `lufs` up, each taken when its mean power is above
    // `thresholdPower`: their block count and power sum.
    Bin gatedTotal(double lufs, double thresholdPower) const;
    int binIndex(double lufs) const;

    std::vector<Bin> bins;
    std::int64_t valueCount = 0;
    Bin aboveAbsoluteGate;
    // The lowest and highest bins that hold anything: the passes visit no more.
    int lowestBin;
    int highestBin;
};

}  // namespace orvinta
