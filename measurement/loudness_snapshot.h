#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace orvinta {

// One array of 32-bit float samples per channel, all at 48 000 Hz, full scale 1.0.
using ChannelBuffers = std::vector<std::vector<float>>;

// A stereo sample pair rotated by 45 degrees: x = (R - L)/sqrt(2), y = (L + R)/sqrt(2).
struct GoniometerPoint {
    float x = 0.0f;
    float y = 0.0f;

    friend bool operator==(const GoniometerPoint&, const GoniometerPoint&) = default;
};

// Every current measurement of one analyzer, copied at each hand-over.
// Negative infinity means silence or no measurement yet.
struct LoudnessSnapshot {
    double momentaryLUFS = -std::numeric_limits<double>::infinity();
    double shortTermLUFS = -std::numeric_limits<double>::infinity();
    double integratedLUFS = -std::numeric_limits<double>::infinity();
    double loudnessRangeLU = 0.0;
    std::vector<double> truePeakDBTP;
    std::vector<double> maxTruePeakDBTP;
    std::optional<double> phaseCorrelation;
    std::vector<GoniometerPoint> goniometerPoints;
    std::vector<std::vector<float>> spectrumDB;
    // The owner's run/reset generation this snapshot was measured in (the loudness engine
    // stamps it), so that a reader can drop snapshots that a reset or a new run overtook.
    std::uint64_t generation = 0;
    // The highest momentary loudness of every hop since the start or the last loudness reset,
    // including hops whose snapshots a reader never saw.
    double maxMomentaryLUFS = -std::numeric_limits<double>::infinity();

    friend bool operator==(const LoudnessSnapshot&, const LoudnessSnapshot&) = default;
};

}  // namespace orvinta
