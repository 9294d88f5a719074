#include "app/scan/file_meter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "app/scan/audio_file_reader.h"
#include "app/scan/rate_converter.h"
#include "measurement/loudness_analyzer.h"
#include "measurement/loudness_statistics.h"

namespace orvinta {

namespace {

constexpr std::size_t kChunkFrames = 4096;

double lufsToPower(double lufs) {
    return std::isfinite(lufs) ? std::pow(10.0, (lufs + 0.691) / 10.0) : 0.0;
}

// Feeds the analyzer whole 960-frame blocks and keeps what a file's reading needs. The
// analyzer refreshes integrated loudness and loudness range once per second of audio and keeps
// the last four hours of blocks; a file's reading must cover every block up to the last hop,
// so the power of each 400 ms block and each 3 s window is kept here and gated at the end by
// the analyzer's own functions.
class BlockFeeder {
public:
    BlockFeeder(const std::vector<ChannelPosition>& positions, int channels)
        : block(static_cast<std::size_t>(channels),
                std::vector<float>(static_cast<std::size_t>(FileMeter::blockFrames))) {
        if (positions.empty()) {
            analyzer.emplace(channels, LoudnessAnalyzer::Clock(), LoudnessAnalyzer::LineSink());
        } else {
            analyzer.emplace(positions);
        }
        for (std::size_t c = 0; c < block.size(); ++c) {
            pointers.push_back(block[c].data());
        }
    }

    std::size_t space() const { return static_cast<std::size_t>(FileMeter::blockFrames) - fill; }
    // Where the next frames of each channel go.
    std::vector<float*>& destinations() {
        for (std::size_t c = 0; c < block.size(); ++c) {
            pointers[c] = block[c].data() + fill;
        }
        return pointers;
    }
    void commit(std::size_t frames) {
        fill += frames;
        if (fill == static_cast<std::size_t>(FileMeter::blockFrames)) {
            feed();
        }
    }

    void deinterleave(std::span<const float> interleaved) {
        const std::size_t channels = block.size();
        std::size_t frame = 0;
        const std::size_t frames = interleaved.size() / channels;
        while (frame < frames) {
            const std::size_t count = std::min(space(), frames - frame);
            for (std::size_t c = 0; c < channels; ++c) {
                float* out = block[c].data() + fill;
                const float* in = interleaved.data() + frame * channels + c;
                for (std::size_t i = 0; i < count; ++i) {
                    out[i] = in[i * channels];
                }
            }
            frame += count;
            commit(count);
        }
    }

    void finish(ScanResult& result) {
        if (fill > 0) {
            for (auto& channel : block) {
                channel.resize(fill);
            }
            feed();
        }
        const LoudnessSnapshot& last = analyzer->latestSnapshot();
        for (const double peak : last.maxTruePeakDBTP) {
            result.truePeakDBTP = std::max(result.truePeakDBTP, peak);
        }
        result.integratedLUFS = integratedLoudnessLUFS(blockPowers);
        // No block above the absolute gate: the programme has no gated loudness.
        if (result.integratedLUFS <= -70.0) {
            result.integratedLUFS = -std::numeric_limits<double>::infinity();
        }
        result.loudnessRangeLU = loudnessRangeLU(windowPowers);
        result.maxMomentaryLUFS = maxMomentary;
        result.maxShortTermLUFS = maxShortTerm;
    }

private:
    void feed() {
        const std::int64_t hopsBefore = framesFed / LoudnessAnalyzer::hopSize;
        framesFed += static_cast<std::int64_t>(block[0].size());
        const std::int64_t hops = framesFed / LoudnessAnalyzer::hopSize;
        const auto& snapshot = analyzer->process(block);
        fill = 0;
        // A block of at most 960 frames completes at most one hop.
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

    std::optional<LoudnessAnalyzer> analyzer;
    ChannelBuffers block;
    std::vector<float*> pointers;
    std::size_t fill = 0;
    std::int64_t framesFed = 0;
    std::vector<double> blockPowers;
    std::vector<double> windowPowers;
    double maxMomentary = -std::numeric_limits<double>::infinity();
    double maxShortTerm = -std::numeric_limits<double>::infinity();
};

}  // namespace

ScanResult FileMeter::measure(const std::string& path, const Progress& progress) {
    ScanResult result;
    result.file = path;
    AudioFileReader reader(path);
    if (reader.failed()) {
        result.error = reader.error();
        return result;
    }
    const int channels = reader.channels();
    result.sampleRate = reader.sampleRate();
    result.channels = channels;

    BlockFeeder feeder(reader.channelPositions(), channels);
    std::unique_ptr<RateConverter> converter;
    if (reader.sampleRate() != static_cast<int>(RateConverter::outputRate)) {
        converter = std::make_unique<RateConverter>(reader.sampleRate(), channels);
        if (!converter->error().empty()) {
            result.error = converter->error();
            return result;
        }
    }

    std::vector<float> chunk(kChunkFrames * static_cast<std::size_t>(channels));
    std::int64_t framesRead = 0;
    while (true) {
        const std::size_t frames = reader.read(chunk);
        std::span<const float> input(chunk.data(), frames * static_cast<std::size_t>(channels));
        if (!converter) {
            feeder.deinterleave(input);
        } else {
            // An empty input drains the converter at the end of the file.
            while (true) {
                const RateConverter::Step step =
                    converter->process(input, feeder.destinations(), feeder.space());
                feeder.commit(step.produced);
                input = input.subspan(step.consumed * static_cast<std::size_t>(channels));
                const bool draining = frames == 0;
                if ((!draining && input.empty()) || (step.consumed == 0 && step.produced == 0)) {
                    break;
                }
            }
            if (!converter->error().empty()) {
                result.error = converter->error();
                return result;
            }
        }
        if (frames == 0) {
            break;
        }
        framesRead += static_cast<std::int64_t>(frames);
        if (progress) {
            const double rate = reader.sampleRate();
            progress(static_cast<double>(framesRead) / rate,
                     static_cast<double>(reader.announcedFrames()) / rate);
        }
    }
    if (reader.failed()) {
        result.error = reader.error();
        return result;
    }
    result.durationSeconds = static_cast<double>(framesRead) / reader.sampleRate();
    feeder.finish(result);
    return result;
}

}  // namespace orvinta
