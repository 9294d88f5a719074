#pragma once

#include <limits>
#include <string>

namespace orvinta {

// What orvinta-scan reports for one file: its readings, or why it could not be measured.
// Loudness values use negative infinity for "no value" (silence, too short a file).
struct ScanResult {
    std::string file;
    std::string error;  // empty when the file was measured
    double integratedLUFS = -std::numeric_limits<double>::infinity();
    double loudnessRangeLU = 0.0;
    double truePeakDBTP = -std::numeric_limits<double>::infinity();
    double maxMomentaryLUFS = -std::numeric_limits<double>::infinity();
    double maxShortTermLUFS = -std::numeric_limits<double>::infinity();
    double durationSeconds = 0.0;
    int sampleRate = 0;
    int channels = 0;

    bool measured() const { return error.empty(); }
};

}  // namespace orvinta
