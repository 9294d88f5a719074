#include "app/scan/file_meter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "app/scan/file_decoder.h"
#include "measurement/loudness_analyzer.h"
#include "measurement/loudness_statistics.h"

namespace orvinta {

namespace {

constexpr double kNegativeInfinity = -std::numeric_limits<double>::infinity();

double lufsToPower(double lufs) {
    return std::isfinite(lufs) ? std::pow(10.0, (lufs + 0.691) / 10.0) : 0.0;
}

// Feeds the analyzer and keeps what a file's reading needs. The analyzer refreshes integrated
// loudness and loudness range once per second of audio and keeps the last four hours of
// blocks; a file's reading must cover every block up to the last hop, so the power of each
// 400 ms block and each 3 s window is kept here and gated at the end by the analyzer's own
// functions.
class BlockMeter {
public:
    explicit BlockMeter(const AudioFileReader& file) {
        if (file.channelPositions().empty()) {
            // No channel mask: weights by channel count.
            analyzer.emplace(file.channels(), LoudnessAnalyzer::Use::fileScan);
        } else {
            analyzer.emplace(file.channelPositions(), LoudnessAnalyzer::Use::fileScan);
        }
    }

    void feed(const ChannelBuffers& block) {
        const std::int64_t hopsBefore = framesFed / LoudnessAnalyzer::hopSize;
        framesFed += static_cast<std::int64_t>(block[0].size());
        const std::int64_t hops = framesFed / LoudnessAnalyzer::hopSize;
        const auto& snapshot = analyzer->process(block);
        // A block of at most one hop's length completes at most one hop.
        if (hops == hopsBefore) {
            return;
        }
        if (hops >= LoudnessAnalyzer::hopsPerMomentary) {
            blockPowers.push_back(lufsToPower(snapshot.momentaryLUFS));
            maxMomentary = std::max(maxMomentary, snapshot.momentaryLUFS);
        }
        if (hops >= LoudnessAnalyzer::hopsPerShortTerm) {
            windowPowers.push_back(lufsToPower(snapshot.shortTermLUFS));
            maxShortTerm = std::max(maxShortTerm, snapshot.shortTermLUFS);
        }
    }

    void finish(ScanResult& result) const {
        for (const double peak : analyzer->latestSnapshot().maxTruePeakDBTP) {
            result.truePeakDBTP = std::max(result.truePeakDBTP, peak);
        }
        result.integratedLUFS = integratedLoudnessLUFS(blockPowers);
        // No block above the absolute gate: the programme has no gated loudness.
        if (result.integratedLUFS <= -70.0) {
            result.integratedLUFS = kNegativeInfinity;
        }
        result.loudnessRangeLU = loudnessRangeLU(windowPowers);
        result.maxMomentaryLUFS = maxMomentary;
        result.maxShortTermLUFS = maxShortTerm;
    }

private:
    std::optional<LoudnessAnalyzer> analyzer;
    std::int64_t framesFed = 0;
    std::vector<double> blockPowers;
    std::vector<double> windowPowers;
    double maxMomentary = kNegativeInfinity;
    double maxShortTerm = kNegativeInfinity;
};

}  // namespace

ScanResult FileMeter::measure(const std::string& path, const Progress& progress) {
    ScanResult result;
    result.file = path;
    FileDecoder decoder(path);
    if (!decoder.error().empty()) {
        result.error = decoder.error();
        return result;
    }
    const AudioFileReader& file = decoder.file();
    result.sampleRate = file.sampleRate();
    result.channels = file.channels();
    const double secondsTotal = static_cast<double>(file.announcedFrames()) / file.sampleRate();

    BlockMeter meter(file);
    ChannelBuffers block;
    int blocks = 0;
    while (decoder.next(block, blockFrames)) {
        meter.feed(block);
        // A progress report every 50 blocks: one per second of audio.
        if (progress && ++blocks % 50 == 0) {
            progress(decoder.secondsRead(), secondsTotal);
        }
    }
    if (!decoder.error().empty()) {
        result.error = decoder.error();
        return result;
    }
    result.durationSeconds = decoder.secondsRead();
    meter.finish(result);
    return result;
}

}  // namespace orvinta
