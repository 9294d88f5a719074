#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "app/scan/audio_file_reader.h"
#include "app/scan/rate_converter.h"
#include "measurement/loudness_snapshot.h"

namespace orvinta {

// An audio file as the analyzer wants it: 32-bit float planar blocks at 48 000 Hz, decoded
// with libsndfile and converted with libsoxr when the file has another rate. Used by one
// thread at a time.
class FileDecoder {
public:
    explicit FileDecoder(const std::string& path);

    // Empty while all is well; otherwise what failed and why, and nothing more is delivered.
    const std::string& error() const;
    const AudioFileReader& file() const { return reader; }
    double secondsRead() const;

    // Fills every channel of `block` with the next `frames` frames (fewer only at the end of
    // the file) and returns false once nothing is left or decoding failed.
    bool next(ChannelBuffers& block, std::size_t frames);

private:
    bool refill();

    AudioFileReader reader;
    std::unique_ptr<RateConverter> converter;
    std::vector<float> chunk;  // interleaved frames at the file's rate
    std::size_t chunkFrames = 0;
    std::size_t chunkPosition = 0;
    std::int64_t framesRead = 0;
    bool ended = false;
    std::vector<float*> destinations;
};

}  // namespace orvinta
