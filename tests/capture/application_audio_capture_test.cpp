#include "capture/application_audio_capture.h"

#include <ebur128.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <iostream>
#include <memory>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "capture/audio_capture_error.h"
#include "tests/capture/capture_recorder.h"
#include "tests/support/pulse/private_pulse_server.h"

namespace orvinta {
namespace {

using namespace std::chrono_literals;
using testing::EngineProbe;
using testing::PrivatePulseServer;

struct Tone {
    double peak;
    double frequencyHz;
};

// libebur128's momentary loudness of stereo tones played together, each in both channels.
double loudnessOfTones(const std::vector<Tone>& tones) {
    std::vector<float> interleaved;
    for (int n = 0; n < 19200; ++n) {
        double value = 0.0;
        for (const Tone& tone : tones) {
            value += tone.peak * std::sin(2.0 * std::numbers::pi * tone.frequencyHz * n / 48000.0);
        }
        interleaved.insert(interleaved.end(), 2, static_cast<float>(value));
    }
    ebur128_state* state = ebur128_init(2, 48000, EBUR128_MODE_M);
    ebur128_add_frames_float(state, interleaved.data(), 19200);
    double loudness = -HUGE_VAL;
    ebur128_loudness_momentary(state, &loudness);
    ebur128_destroy(&state);
    return loudness;
}

// Waits until two readings at least a hop apart lie within 0.1 LU of `expected` (a stream that
// drops out now and then rarely gives two), or 15 s pass; returns the last reading.
double settledReading(const EngineProbe& probe, double expected) {
    double reading = -HUGE_VAL;
    int closeInARow = 0;
    testing::eventually(
        [&] {
            probe.passes(3);
            reading = probe.latest().momentaryLUFS;
            closeInARow = std::abs(reading - expected) < 0.1 ? closeInARow + 1 : 0;
            return closeInARow >= 2;
        },
        15s);
    std::cout << "reading " << reading << " LUFS, expected " << expected << " LUFS\n";
    return reading;
}

// The index of the application's first stream, as the server lists it.
std::string sinkInputOf(const PrivatePulseServer& server, const std::string& applicationName) {
    const std::string list = server.pactl({"list", "sink-inputs"});
    const auto header =
        list.rfind("Sink Input #", list.find("application.name = \"" + applicationName + "\""));
    const auto number = header + std::string("Sink Input #").size();
    return list.substr(number, list.find('\n', header) - number);
}

class ApplicationAudioCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.start();
        server.exportToEnvironment();
    }

    PrivatePulseServer server;
};

TEST_F(ApplicationAudioCaptureTest, ListsEachPlayingApplicationOnceByName) {
    server.playAs("Tone player", 0.1, 1000.0);
    server.playAs("noise player", 0.5, 0.0);
    server.playAs("Tone player", 0.1, 1250.0);

    EXPECT_THAT(ApplicationAudioCapture::playingApplications(),
                ::testing::ElementsAre(PlayingApplication{"noise player", "noise player"},
                                       PlayingApplication{"Tone player", "Tone player"}));

    server.stop();
    EXPECT_TRUE(ApplicationAudioCapture::playingApplications().empty());
}

TEST_F(ApplicationAudioCaptureTest, MetersOneApplicationAloneBesideLoudNoiseOnTheSameSink) {
    server.playAs("Tone player", 0.1, 1000.0);
    server.playAs("Noise player", 0.5, 0.0);

    const EngineProbe probe(std::make_shared<ApplicationAudioCapture>("Tone player"));

    const double tone = loudnessOfTones({{0.1, 1000.0}});
    EXPECT_NEAR(settledReading(probe, tone), tone, 0.1);
    EXPECT_EQ(probe.formats().size(), 1u);
    EXPECT_TRUE(probe.errors().empty());
}

TEST_F(ApplicationAudioCaptureTest, FollowsStreamsThatJoinLeaveMoveAndReturn) {
    const int first = server.playAs("Duo", 0.1, 1000.0);
    const EngineProbe probe(std::make_shared<ApplicationAudioCapture>("Duo"));
    const double firstAlone = loudnessOfTones({{0.1, 1000.0}});
    EXPECT_NEAR(settledReading(probe, firstAlone), firstAlone, 0.1);

    // A second stream of the application joins the first: their sum is metered.
    const int second = server.playAs("Duo", 0.1, 1250.0);
    const double both = loudnessOfTones({{0.1, 1000.0}, {0.1, 1250.0}});
    EXPECT_NEAR(settledReading(probe, both), both, 0.1);

    server.stopPlayer(first);
    const double secondAlone = loudnessOfTones({{0.1, 1250.0}});
    EXPECT_NEAR(settledReading(probe, secondAlone), secondAlone, 0.1);

    // Moved to another output device, the stream is recorded there.
    server.pactl(
        {"move-sink-input", sinkInputOf(server, "Duo"), PrivatePulseServer::kMicrophoneFeed});
    EXPECT_NEAR(settledReading(probe, secondAlone), secondAlone, 0.1);

    // The application stops playing and starts again.
    server.stopPlayer(second);
    server.playAs("Duo", 0.1, 1000.0);
    EXPECT_NEAR(settledReading(probe, firstAlone), firstAlone, 0.1);
    EXPECT_TRUE(probe.errors().empty());
}

TEST_F(ApplicationAudioCaptureTest, StartFailsWithoutAStreamAndALostServerIsReported) {
    server.playAs("Tone player", 0.1, 1000.0);

    ApplicationAudioCapture absent("Silent player");
    try {
        absent.start();
        ADD_FAILURE() << "start() succeeded for an application that plays nothing";
    } catch (const AudioCaptureError& error) {
        EXPECT_EQ(error.kind(), AudioCaptureError::Kind::noAudioDelivered);
        EXPECT_THAT(error.what(), ::testing::HasSubstr("Silent player"));
    }

    const EngineProbe probe(std::make_shared<ApplicationAudioCapture>("Tone player"));
    ASSERT_TRUE(probe.passes(1));
    server.kill();
    EXPECT_TRUE(probe.failed());
}

}  // namespace
}  // namespace orvinta
