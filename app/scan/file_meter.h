#pragma once

#include <functional>
#include <string>

#include "app/scan/scan_result.h"

namespace orvinta {

// Measures one audio file with the live meter's LoudnessAnalyzer: decodes it, converts it to
// 48 kHz, feeds the analyzer in 960-frame blocks (what the live sources deliver) and reads
// integrated loudness, loudness range, maximum true peak, maximum momentary and short-term
// loudness over the whole file. Runs on the calling thread; one file uses one core.
class FileMeter {
public:
    // Called after every decoded chunk with the seconds of audio read so far and the file's
    // announced length in seconds (0 when it does not say).
    using Progress = std::function<void(double secondsRead, double secondsTotal)>;

    static constexpr int blockFrames = 960;

    static ScanResult measure(const std::string& path, const Progress& progress = {});
};

}  // namespace orvinta
