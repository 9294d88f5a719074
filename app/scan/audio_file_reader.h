#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "measurement/channel_position.h"

using SNDFILE = struct sf_private_tag;

namespace orvinta {

// One audio file opened for reading with libsndfile (WAV/RF64, AIFF, FLAC, Ogg Vorbis, Opus,
// MP3…), delivered as interleaved 32-bit float frames at the file's own rate. Every failure
// (cannot open, not audio, a decoding error, a file shorter than its header announces) ends
// the reading and leaves a sentence in error(). Used by one thread at a time.
class AudioFileReader {
public:
    explicit AudioFileReader(const std::string& path);
    ~AudioFileReader();
    AudioFileReader(const AudioFileReader&) = delete;
    AudioFileReader& operator=(const AudioFileReader&) = delete;

    bool failed() const { return !errorText.empty(); }
    const std::string& error() const { return errorText; }

    int sampleRate() const { return rate; }
    int channels() const { return channelCount; }
    // Frames as the file announces them; 0 when it does not say.
    std::int64_t announcedFrames() const { return announced; }
    // Where each channel sits, from the file's channel mask or, for Ogg Vorbis and Opus, from
    // the channel order their formats fix; empty when the file says nothing.
    const std::vector<ChannelPosition>& channelPositions() const { return positions; }

    // Reads up to interleaved.size() / channels() frames and returns how many arrived; 0 at
    // the end of the file or after a failure.
    std::size_t read(std::span<float> interleaved);

private:
    void readChannelMap();
    void finishReading();

    SNDFILE* file = nullptr;
    std::string errorText;
    int rate = 0;
    int channelCount = 0;
    std::int64_t announced = 0;
    std::int64_t framesRead = 0;
    std::vector<ChannelPosition> positions;
};

}  // namespace orvinta
