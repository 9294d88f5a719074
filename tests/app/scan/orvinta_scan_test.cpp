// orvinta-scan end to end: audio files written with libsndfile into a scratch directory,
// measured by the real binary, its JSON lines read back with a real JSON parser.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <numbers>
#include <string>
#include <vector>

#include "tests/measurement/loudness_signals.h"

namespace orvinta {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Channels = std::vector<std::vector<float>>;
using testing::Sine;

constexpr int kWav = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
constexpr int kFlac = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;

struct Scan {
    int status = -1;
    std::vector<Json> lines;  // one per file with --json
};

// Runs the real binary; with --json every output line must parse.
Scan runScan(const std::vector<std::string>& arguments) {
    // No argument holds a single quote.
    std::string command = "'" ORVINTA_SCAN_PATH "'";
    for (const std::string& argument : arguments) {
        command.append(" '").append(argument).append("'");
    }
    Scan scan;
    std::FILE* pipe = popen(command.c_str(), "r");
    std::string line;
    for (int c = std::fgetc(pipe); c != EOF; c = std::fgetc(pipe)) {
        if (c != '\n') {
            line += static_cast<char>(c);
        } else if (!arguments.empty() && arguments[0] == "--json") {
            scan.lines.push_back(Json::parse(line));
            line.clear();
        }
    }
    const int status = pclose(pipe);
    scan.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return scan;
}

void writeAudio(const fs::path& path, const Channels& channels, int rate, int format,
                std::vector<int> channelMap = {}) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = static_cast<int>(channels.size());
    info.format = channelMap.empty() ? format : SF_FORMAT_WAVEX | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    if (!channelMap.empty()) {
        ASSERT_EQ(sf_command(file, SFC_SET_CHANNEL_MAP_INFO, channelMap.data(),
                             static_cast<int>(channelMap.size() * sizeof(int))),
                  SF_TRUE);
    }
    std::vector<float> interleaved;
    for (std::size_t i = 0; i < channels[0].size(); ++i) {
        for (const auto& channel : channels) {
            interleaved.push_back(channel[i]);
        }
    }
    sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(channels[0].size()));
    sf_close(file);
}

// 1 kHz tones at the given dBFS levels, for the given seconds each, from the shared generator.
std::vector<float> tones(std::initializer_list<std::pair<double, double>> segments) {
    Sine sine(1000.0);
    std::vector<float> samples;
    for (const auto& [dbfs, seconds] : segments) {
        const std::vector<float> piece =
            sine.next(static_cast<std::size_t>(std::llround(seconds * testing::kRate)),
                      testing::dbToAmplitude(dbfs));
        samples.insert(samples.end(), piece.begin(), piece.end());
    }
    return samples;
}

class OrvintaScan : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "orvinta-scan-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string path(const std::string& name) const { return (dir / name).string(); }

    fs::path dir;
};

TEST_F(OrvintaScan, EbuSignalsReadTheirExpectedValuesFromWavAndFlac) {
    struct Case {
        std::vector<float> mono;
        double lufs;     // EBU Tech 3341, ±0.1 LU; NAN: not checked
        double rangeLU;  // EBU Tech 3342, ±1 LU; NAN: not checked
    };
    const Case cases[] = {
        {tones({{-23.0, 20.0}}), -23.0, NAN},
        {tones({{-33.0, 20.0}}), -33.0, NAN},
        {tones({{-36.0, 10.0}, {-23.0, 60.0}, {-36.0, 10.0}}), -23.0, NAN},
        {tones({{-72.0, 10.0}, {-36.0, 10.0}, {-23.0, 60.0}, {-36.0, 10.0}, {-72.0, 10.0}}), -23.0,
         NAN},
        {tones({{-26.0, 20.0}, {-20.0, 20.1}, {-26.0, 20.0}}), -23.0, NAN},
        {tones({{-20.0, 20.0}, {-30.0, 20.0}}), NAN, 10.0},
        {tones({{-20.0, 20.0}, {-15.0, 20.0}}), NAN, 5.0},
        {tones({{-40.0, 20.0}, {-20.0, 20.0}}), NAN, 20.0},
        {tones({{-50.0, 20.0}, {-35.0, 20.0}, {-20.0, 20.0}, {-35.0, 20.0}, {-50.0, 20.0}}), NAN,
         15.0},
    };
    std::vector<std::string> arguments = {"--json", "--jobs", "2"};
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        for (const auto& [suffix, format] : {std::pair{".wav", kWav}, std::pair{".flac", kFlac}}) {
            arguments.push_back(path("signal" + std::to_string(k) + suffix));
            writeAudio(arguments.back(), {cases[k].mono, cases[k].mono}, 48000, format);
        }
    }
    // True peak: a quarter-rate sine at -6 dBFS whose samples fall 45° off its crests, so the
    // sample peak reads 3 dB low (EBU Tech 3341: -6.0 dBTP, +0.2/-0.4).
    std::vector<float> offCrest(std::size_t{48000} * 5);
    for (std::size_t i = 0; i < offCrest.size(); ++i) {
        offCrest[i] = static_cast<float>(
            0.5 * std::sin(std::numbers::pi / 2.0 * static_cast<double>(i) + std::numbers::pi / 4));
    }
    arguments.push_back(path("true-peak.wav"));
    writeAudio(arguments.back(), {offCrest, offCrest}, 48000, kWav);

    const Scan scan = runScan(arguments);
    ASSERT_EQ(scan.status, 0);
    ASSERT_EQ(scan.lines.size(), arguments.size() - 3);
    for (std::size_t i = 0; i + 1 < scan.lines.size(); ++i) {
        const Json& line = scan.lines[i];
        const Case& expected = cases[i / 2];
        SCOPED_TRACE(arguments[i + 3]);
        EXPECT_EQ(line["file"], arguments[i + 3]);
        EXPECT_EQ(line["sampleRate"], 48000);
        EXPECT_EQ(line["channels"], 2);
        if (!std::isnan(expected.lufs)) {
            EXPECT_NEAR(line["integratedLUFS"].get<double>(), expected.lufs, 0.1);
        }
        if (!std::isnan(expected.rangeLU)) {
            EXPECT_NEAR(line["loudnessRangeLU"].get<double>(), expected.rangeLU, 1.0);
        }
    }
    // The steady first signal reads -23 in every window.
    EXPECT_NEAR(scan.lines[0]["maxMomentaryLUFS"].get<double>(), -23.0, 0.1);
    EXPECT_NEAR(scan.lines[0]["maxShortTermLUFS"].get<double>(), -23.0, 0.1);
    const double peak = scan.lines.back()["truePeakDBTP"].get<double>();
    EXPECT_GE(peak, -6.4);
    EXPECT_LE(peak, -5.8);
}

TEST_F(OrvintaScan, OtherSampleRatesAgreeWithTheSameAudioAt48k) {
    // Three partials whose level steps every 4 s: the same continuous signal at each rate.
    const auto programme = [](int rate) {
        const double levels[] = {-30.0, -18.0, -24.0, -12.0, -27.0};
        std::vector<float> samples(static_cast<std::size_t>(rate) * 20);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const double t = static_cast<double>(i) / rate;
            const double amplitude = testing::dbToAmplitude(levels[static_cast<int>(t / 4.0)]);
            double sum = 0.0;
            for (const double hz : {110.0, 1234.0, 6543.0}) {
                sum += std::sin(2.0 * std::numbers::pi * hz * t) / 3.0;
            }
            samples[i] = static_cast<float>(amplitude * sum);
        }
        return samples;
    };
    std::vector<std::string> arguments = {"--json"};
    for (const auto& [rate, format] : {std::pair{48000, kWav}, std::pair{44100, kFlac},
                                       std::pair{96000, kWav}, std::pair{44100, kWav}}) {
        arguments.push_back(path(std::to_string(rate) + (format == kWav ? ".wav" : ".flac")));
        const std::vector<float> mono = programme(rate);
        writeAudio(arguments.back(), {mono, mono}, rate, format);
    }
    const Scan scan = runScan(arguments);
    ASSERT_EQ(scan.status, 0);
    ASSERT_EQ(scan.lines.size(), 4u);
    const Json& reference = scan.lines[0];
    for (std::size_t i = 1; i < scan.lines.size(); ++i) {
        SCOPED_TRACE(arguments[i + 1]);
        for (const auto& [key, tolerance] :
             {std::pair{"integratedLUFS", 0.05}, std::pair{"loudnessRangeLU", 0.05},
              std::pair{"maxShortTermLUFS", 0.05}, std::pair{"truePeakDBTP", 0.2}}) {
            EXPECT_NEAR(scan.lines[i][key].get<double>(), reference[key].get<double>(), tolerance)
                << key;
        }
        EXPECT_NEAR(scan.lines[i]["durationSeconds"].get<double>(), 20.0, 1e-3);
    }
}

TEST_F(OrvintaScan, ChannelLayoutWeightsTheChannels) {
    // A -20 dBFS tone in one channel reads -23.01 LUFS at weight 1.0, +1.49 LU in a surround.
    struct Case {
        std::vector<int> mask;  // WAV channel mask; empty: an Ogg Vorbis file of 6 channels
        std::size_t toneChannel;
        double lufs;  // NAN: no value
    };
    const std::vector<int> fivePointOne = {SF_CHANNEL_MAP_LEFT,      SF_CHANNEL_MAP_RIGHT,
                                           SF_CHANNEL_MAP_CENTER,    SF_CHANNEL_MAP_LFE,
                                           SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT};
    const Case cases[] = {
        {fivePointOne, 4, -21.52},
        {fivePointOne, 3, NAN},
        // Four channels would all count 1.0 by their number; the mask names two surrounds.
        {{SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_SIDE_LEFT,
          SF_CHANNEL_MAP_SIDE_RIGHT},
         3,
         -21.52},
        // Vorbis 5.1 order is L C R Ls Rs LFE: the fourth channel is a surround, not the LFE.
        {{}, 3, -21.52},
    };
    std::vector<std::string> arguments = {"--json"};
    const std::vector<float> tone = tones({{-20.0, 5.0}});
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        const bool ogg = cases[k].mask.empty();
        Channels channels(ogg ? 6 : cases[k].mask.size(), std::vector<float>(tone.size(), 0.0f));
        channels[cases[k].toneChannel] = tone;
        arguments.push_back(path("layout" + std::to_string(k) + (ogg ? ".ogg" : ".wav")));
        writeAudio(arguments.back(), channels, 48000, SF_FORMAT_OGG | SF_FORMAT_VORBIS,
                   cases[k].mask);
    }
    const Scan scan = runScan(arguments);
    ASSERT_EQ(scan.status, 0);
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        const Json& value = scan.lines.at(k)["integratedLUFS"];
        if (std::isnan(cases[k].lufs)) {
            EXPECT_TRUE(value.is_null()) << "case " << k;
        } else {
            // Loose enough for the lossy Vorbis encoder, far tighter than the 1.49 LU at stake.
            EXPECT_NEAR(value.get<double>(), cases[k].lufs, 0.2) << "case " << k;
        }
    }
}

TEST_F(OrvintaScan, UnreadableFilesGiveErrorsWhileTheOthersAreMeasured) {
    // Shorter than the second after which the live meter first shows integrated loudness.
    const std::vector<float> tone = tones({{-20.0, 0.9}});
    const std::vector<float> silence(tone.size(), 0.0f);
    writeAudio(path("tone \"quoted\".wav"), {tone}, 48000, kWav);
    writeAudio(path("silence.flac"), {silence, silence}, 44100, kFlac);
    writeAudio(path("truncated.wav"), {tone, tone}, 48000, kWav);
    fs::resize_file(path("truncated.wav"), fs::file_size(path("truncated.wav")) / 2);
    writeAudio(path("truncated.flac"), {tone, tone}, 48000, kFlac);
    fs::resize_file(path("truncated.flac"), fs::file_size(path("truncated.flac")) / 2);
    std::ofstream(path("notes.wav")) << "these are not samples\n";

    const std::vector<std::string> files = {path("truncated.wav"), path("tone \"quoted\".wav"),
                                            path("notes.wav"),     path("missing.wav"),
                                            path("silence.flac"),  path("truncated.flac")};
    std::vector<std::string> arguments = {"--json", "--jobs", "3"};
    arguments.insert(arguments.end(), files.begin(), files.end());
    const Scan scan = runScan(arguments);
    EXPECT_EQ(scan.status, 1);
    ASSERT_EQ(scan.lines.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(scan.lines[i]["file"], files[i]);
        const bool readable = i == 1 || i == 4;
        EXPECT_EQ(scan.lines[i].contains("error"), !readable) << files[i];
        EXPECT_EQ(scan.lines[i].contains("integratedLUFS"), readable) << files[i];
    }
    EXPECT_NEAR(scan.lines[1]["integratedLUFS"].get<double>(), -23.01, 0.02);
    // Silence has no loudness and no peak: null, never -inf.
    for (const char* key :
         {"integratedLUFS", "truePeakDBTP", "maxMomentaryLUFS", "maxShortTermLUFS"}) {
        EXPECT_TRUE(scan.lines[4][key].is_null()) << key;
    }
    // The table for people fails the same way.
    EXPECT_EQ(runScan(files).status, 1);
}

TEST_F(OrvintaScan, UsageErrorsExitWithStatusTwo) {
    const std::vector<std::vector<std::string>> commandLines = {
        {}, {"--json"}, {"--jobs", "0", "a.wav"}, {"--jobs", "many", "a.wav"}, {"--loud", "a.wav"}};
    for (const auto& arguments : commandLines) {
        EXPECT_EQ(runScan(arguments).status, 2) << ::testing::PrintToString(arguments);
    }
}

}  // namespace
}  // namespace orvinta
