#pragma once

#include <span>
#include <vector>

namespace orvinta {

// The power of a block at -70 LUFS, 10^((-70 + 0.691) / 10): the absolute gate keeps only
// blocks strictly louder than this.
inline constexpr double kAbsoluteGatePower = 1.1724653045822981e-7;

// Loudness in LUFS of a channel-weighted mean-square power: 10 log10(power) - 0.691, or
// negative infinity for a power of zero (or below).
double powerToLUFS(double power);

// The channel-weighted mean-square power of a loudness in LUFS: 10^((lufs + 0.691) / 10).
double lufsToPower(double lufs);

// These two take the whole list of a run's block powers, gate, sort and interpolate by the
// book; the analyzer keeps its statistics in a LoudnessHistogram instead.

// Gated integrated loudness of a list of 400 ms block powers: the absolute gate at -70 LUFS,
// then the relative gate 10 LU below the mean of the blocks that passed it. Negative infinity
// for an empty list, -70.0 when no block passes the absolute gate.
double integratedLoudnessLUFS(std::span<const double> blockPowers);

// Loudness range in LU of a list of 3 s window powers: after the absolute gate and a relative
// gate 20 LU below the mean, the spread between the 10th and the 95th percentile of the
// loudness values. 0.0 when fewer than two values pass the gates. `scratch` holds the gated
// values while they are ranked and may be reused from call to call.
double loudnessRangeLU(std::span<const double> windowPowers, std::vector<double>& scratch);
double loudnessRangeLU(std::span<const double> windowPowers);

// Value at `fraction` (0..1) of an ascending list, interpolated linearly between the two
// closest zero-based ranks; not-a-number for an empty list.
double percentile(std::span<const double> ascending, double fraction);

}  // namespace orvinta
