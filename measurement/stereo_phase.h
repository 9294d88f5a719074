#pragma once

#include <optional>
#include <span>
#include <vector>

#include "measurement/loudness_snapshot.h"

namespace orvinta {

// The samples of one goniometer point are taken every this many samples, starting afresh at
// index 0 of each buffer.
inline constexpr int kGoniometerDecimation = 24;

// Phase correlation of one stereo buffer, from -1 (out of phase) to +1 (mono), computed in single
// precision over the whole buffer. Absent when the buffer is empty or the channels differ in
// length; 1.0 when either channel is silent.
std::optional<double> computePhaseCorrelation(std::span<const float> left,
                                              std::span<const float> right);

// One goniometer point for every 24th sample pair of the buffer, starting at index 0, rotated by
// 45 degrees so that mono lies on the vertical axis. Empty when the buffer is empty or the channels
// differ in length.
std::vector<GoniometerPoint> makeGoniometerPoints(std::span<const float> left,
                                                  std::span<const float> right);

}  // namespace orvinta
