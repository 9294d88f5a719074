#include "audio_file_reader.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace orvinta {

namespace {

std::uint32_t littleEndian32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint32_t bigEndian32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[3]) | static_cast<std::uint32_t>(p[2]) << 8 |
           static_cast<std::uint32_t>(p[1]) << 16 | static_cast<std::uint32_t>(p[0]) << 24;
}

// The length in bytes that a RIFF/WAVE, RF64 or AIFF file's outer chunk announces, or 0 when
// the header does not say (another container, or a streaming writer's placeholder). libsndfile
// quietly reads a cut-off WAV or AIFF as a shorter file; this is how the cut shows.
std::int64_t announcedContainerBytes(int fd) {
    std::array<unsigned char, 28> h{};
    if (pread(fd, h.data(), h.size(), 0) != static_cast<ssize_t>(h.size())) {
        return 0;
    }
    const auto tag = [&h](std::size_t at, const char* text) {
        return std::memcmp(h.data() + at, text, 4) == 0;
    };
    if (tag(0, "RIFF") && tag(8, "WAVE")) {
        const std::uint32_t size = littleEndian32(&h[4]);
        return size == 0 || size == 0xFFFFFFFFu ? 0 : std::int64_t{size} + 8;
    }
    if (tag(0, "RF64") && tag(8, "WAVE") && tag(12, "ds64")) {
        const std::uint64_t size =
            littleEndian32(&h[20]) | static_cast<std::uint64_t>(littleEndian32(&h[24])) << 32;
        return static_cast<std::int64_t>(size) + 8;
    }
    if (tag(0, "FORM") && (tag(8, "AIFF") || tag(8, "AIFC"))) {
        return std::int64_t{bigEndian32(&h[4])} + 8;
    }
    return 0;
}

std::string seconds(std::int64_t frames, int rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", static_cast<double>(frames) / rate);
    return text;
}

ChannelPosition positionOf(int sndfilePosition) {
    switch (sndfilePosition) {
        case SF_CHANNEL_MAP_LFE:
            return ChannelPosition::lfe;
        case SF_CHANNEL_MAP_REAR_LEFT:
        case SF_CHANNEL_MAP_SIDE_LEFT:
            return ChannelPosition::surroundLeft;
        case SF_CHANNEL_MAP_REAR_RIGHT:
        case SF_CHANNEL_MAP_SIDE_RIGHT:
            return ChannelPosition::surroundRight;
        default:
            return ChannelPosition::other;
    }
}

// Ogg Vorbis and Opus name no layout but fix the channel order by the channel count (the
// Vorbis I order, which Opus mapping family 1 shares); libsndfile hands the channels over in
// that order, which for 5.1 differs from the WAV order that the count-based weights assume.
std::vector<ChannelPosition> vorbisOrder(int channels) {
    constexpr auto o = ChannelPosition::other;
    constexpr auto l = ChannelPosition::surroundLeft;
    constexpr auto r = ChannelPosition::surroundRight;
    constexpr auto lfe = ChannelPosition::lfe;
    switch (channels) {
        case 4:
            return {o, o, l, r};
        case 5:
            return {o, o, o, l, r};
        case 6:
            return {o, o, o, l, r, lfe};
        case 7:
            return {o, o, o, l, r, o, lfe};
        case 8:
            return {o, o, o, l, r, l, r, lfe};
        default:
            return {};
    }
}

}  // namespace

AudioFileReader::AudioFileReader(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        errorText = std::string("cannot open the file: ") + std::strerror(errno);
        return;
    }
    struct stat status {};
    if (fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        close(fd);
        errorText = "cannot read a directory as audio";
        return;
    }
    const std::int64_t declared = announcedContainerBytes(fd);
    // A writer that left out the pad byte after an odd-sized chunk falls one byte short.
    if (S_ISREG(status.st_mode) && declared > status.st_size + 1) {
        close(fd);
        errorText = "the file is cut short: it holds " + std::to_string(status.st_size) +
                    " bytes of the " + std::to_string(declared) + " its header announces";
        return;
    }

    SF_INFO info{};
    file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    if (file == nullptr) {
        errorText = std::string("not an audio file that libsndfile can read (") +
                    sf_strerror(nullptr) + ")";
        return;
    }
    rate = info.samplerate;
    channelCount = info.channels;
    announced = info.frames > 0 && info.frames < SF_COUNT_MAX ? info.frames : 0;
    if (rate <= 0 || channelCount <= 0) {
        errorText = "the file announces no usable sample rate or channel count";
        return;
    }
    readChannelMap();
    if (positions.empty() && (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG) {
        positions = vorbisOrder(channelCount);
    }
}

AudioFileReader::~AudioFileReader() {
    if (file != nullptr) {
        sf_close(file);
    }
}

void AudioFileReader::readChannelMap() {
    std::vector<int> map(static_cast<std::size_t>(channelCount), SF_CHANNEL_MAP_INVALID);
    if (sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map.data(),
                   static_cast<int>(map.size() * sizeof(int))) != SF_TRUE) {
        return;
    }
    for (const int position : map) {
        if (position == SF_CHANNEL_MAP_INVALID) {
            positions.clear();
            return;
        }
        positions.push_back(positionOf(position));
    }
}

std::size_t AudioFileReader::read(std::span<float> interleaved) {
    if (failed() || file == nullptr) {
        return 0;
    }
    const auto wanted = static_cast<sf_count_t>(interleaved.size()) / channelCount;
    const sf_count_t got = sf_readf_float(file, interleaved.data(), wanted);
    if (got > 0) {
        framesRead += got;
        return static_cast<std::size_t>(got);
    }
    finishReading();
    return 0;
}

void AudioFileReader::finishReading() {
    if (sf_error(file) != SF_ERR_NO_ERROR) {
        std::string_view reason = sf_strerror(file);
        if (reason.starts_with("Error : ")) {
            reason.remove_prefix(8);
        }
        errorText =
            "decoding failed after " + seconds(framesRead, rate) + ": " + std::string(reason);
    } else if (announced > 0 && framesRead < announced) {
        errorText = "the file ends after " + seconds(framesRead, rate) + " of the " +
                    seconds(announced, rate) + " its header announces";
    }
}

}  // namespace orvinta
