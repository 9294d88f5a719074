#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>

#include "measurement/loudness_analyzer.h"

using soxr_t = struct soxr*;

namespace orvinta {

// Converts interleaved 32-bit float frames at any rate to planar frames at 48 000 Hz with
// libsoxr at high quality, linear phase, on the calling thread only (as the live capture
// converter does). One per file; used by one thread at a time.
class RateConverter {
public:
    static constexpr double outputRate = LoudnessAnalyzer::sampleRate;

    RateConverter(double inputRate, int channels);
    ~RateConverter();
    RateConverter(const RateConverter&) = delete;
    RateConverter& operator=(const RateConverter&) = delete;

    // Empty when the converter is ready; otherwise why it could not be built.
    const std::string& error() const { return errorText; }

    struct Step {
        std::size_t consumed = 0;  // input frames taken
        std::size_t produced = 0;  // output frames written to every channel
    };
    // Takes frames from `interleaved` and writes at most `capacity` frames to each of
    // `channels[c]`. An empty input marks the end of the file: the converter then hands out
    // the frames it still holds, until it produces none.
    Step process(std::span<const float> interleaved, std::span<float* const> channels,
                 std::size_t capacity);

private:
    soxr_t resampler = nullptr;
    std::size_t channelCount;
    std::string errorText;
};

}  // namespace orvinta
