#include "capture/system_audio_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>

#include "capture/audio_capture_error.h"
#include "tests/capture/capture_recorder.h"
#include "tests/support/pulse/private_pulse_server.h"

namespace orvinta {
namespace {

using testing::CaptureRecorder;
using testing::PrivatePulseServer;
using testing::sineLoudness;

// How many streams record the named source, as the server lists them.
int recordersOf(const PrivatePulseServer& server, const std::string& sourceName) {
    const auto column = [](const std::string& line, int index) {
        std::istringstream fields(line);
        std::string field;
        for (int i = 0; i <= index; ++i) {
            fields >> field;
        }
        return field;
    };
    std::string number;
    std::istringstream sources(server.pactl({"list", "short", "sources"}));
    for (std::string line; std::getline(sources, line);) {
        number = column(line, 1) == sourceName ? column(line, 0) : number;
    }
    int count = 0;
    std::istringstream outputs(server.pactl({"list", "short", "source-outputs"}));
    for (std::string line; std::getline(outputs, line);) {
        count += !number.empty() && column(line, 1) == number;
    }
    return count;
}

std::optional<AudioCaptureError::Kind> startFailure(SystemAudioCapture& capture) {
    try {
        capture.start();
    } catch (const AudioCaptureError& error) {
        return error.kind();
    }
    return std::nullopt;
}

TEST(SystemAudioCapture, SpeakersSineArrivesAsExactBlocksAtItsKnownLoudness) {
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    server.playSineIntoSpeakers(0.1);

    SystemAudioCapture capture;
    CaptureRecorder recorder;
    recorder.attach(capture);
    capture.start();
    EXPECT_EQ(capture.channelCount(), 2);
    // Past the start watchdog's 3 s, which must stay quiet while audio flows.
    ASSERT_TRUE(recorder.waitForMoreFrames(168000));
    capture.stop();

    const auto blocks = recorder.blocks();
    for (const auto& block : blocks) {
        ASSERT_EQ(block.size(), 2u);
        ASSERT_EQ(block[0].size(), 960u);
        ASSERT_EQ(block[1].size(), 960u);
    }
    EXPECT_NEAR(testing::momentaryLoudnessOfLast400ms(blocks), sineLoudness(0.1, 2), 0.2);
    EXPECT_EQ(recorder.formats(), (std::vector<AudioFormatInfo>{{48000.0, 32, true, 2}}));
    EXPECT_TRUE(recorder.errors().empty());
}

TEST(SystemAudioCapture, FollowsTheOutputWhenTheUserSwitchesTheDefaultSink) {
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    server.playSineIntoSpeakers(0.1);
    server.pactl({"load-module", "module-null-sink", "sink_name=headphones", "rate=48000",
                  "format=float32le", "channels=2"});

    SystemAudioCapture capture;
    CaptureRecorder recorder;
    recorder.attach(capture);
    capture.start();
    ASSERT_TRUE(recorder.waitForMoreFrames(24000));

    // The server moves the playing sine to the new default sink, as a desktop does; the speakers
    // fall silent, so the sine is heard again only if capture moved along.
    server.pactl({"set-default-sink", "headphones"});
    EXPECT_TRUE(
        testing::eventually([&] { return recordersOf(server, "headphones.monitor") == 1; }));
    recorder.clearBlocks();
    ASSERT_TRUE(recorder.waitForMoreFrames(48000));
    EXPECT_NEAR(testing::momentaryLoudnessOfLast400ms(recorder.blocks()), sineLoudness(0.1, 2),
                0.2);
    capture.stop();
    EXPECT_TRUE(recorder.errors().empty());
}

TEST(SystemAudioCapture, LosingTheOnlySinkIsAnErrorNeverTheMicrophone) {
    // A microphone that no sink feeds, so that nothing but the speakers is a sink.
    PrivatePulseServer::Options options;
    options.microphone = PrivatePulseServer::Microphone::standalone;
    PrivatePulseServer server(options);
    server.start();
    server.exportToEnvironment();

    SystemAudioCapture capture;
    CaptureRecorder recorder;
    recorder.attach(capture);
    capture.start();
    ASSERT_TRUE(recorder.waitForMoreFrames(4800));
    server.pactl({"unload-module", "module-null-sink"});
    ASSERT_TRUE(recorder.waitForError());
    capture.stop();
    // Nothing played into the speakers; the microphone's sine never reached us.
    for (const auto& block : recorder.blocks()) {
        for (const auto& channel : block) {
            ASSERT_TRUE(
                std::all_of(channel.begin(), channel.end(), [](float s) { return s == 0; }));
        }
    }
    EXPECT_EQ(recorder.errors().size(), 1u);
}

TEST(SystemAudioCapture, DyingServerIsReportedAndALaterStartWorks) {
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();

    SystemAudioCapture capture;
    CaptureRecorder recorder;
    recorder.attach(capture);
    capture.start();
    ASSERT_TRUE(recorder.waitForMoreFrames(4800));
    server.kill();
    ASSERT_TRUE(recorder.waitForError());
    capture.stop();

    server.start();
    server.playSineIntoSpeakers(0.1);
    capture.start();
    ASSERT_TRUE(recorder.waitForMoreFrames(24000));
    capture.stop();
    EXPECT_EQ(recorder.errors().size(), 1u);
    EXPECT_NEAR(testing::momentaryLoudnessOfLast400ms(recorder.blocks()), sineLoudness(0.1, 2),
                0.2);
}

TEST(SystemAudioCapture, StartFailuresMapToTheirErrors) {
    {
        PrivatePulseServer server(PrivatePulseServer::nothingAttached());
        server.start();
        server.exportToEnvironment();
        SystemAudioCapture capture;
        EXPECT_EQ(startFailure(capture), AudioCaptureError::Kind::noDisplayAvailable);
    }
    {
        PrivatePulseServer server;
        server.start();
        server.exportRefusingToEnvironment();
        SystemAudioCapture capture;
        EXPECT_EQ(startFailure(capture), AudioCaptureError::Kind::permissionDenied);
    }
    PrivatePulseServer server;  // never started
    server.exportToEnvironment();
    SystemAudioCapture capture;
    capture.stop();  // stopping what never started does nothing
    EXPECT_EQ(startFailure(capture), AudioCaptureError::Kind::streamSetupFailed);
}

TEST(SystemAudioCapture, WatchdogReportsASilentStreamOfTheLatestStart) {
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    // A suspended sink's monitor connects but delivers nothing.
    server.pactl({"suspend-sink", PrivatePulseServer::kSpeakers, "1"});

    SystemAudioCapture capture;
    CaptureRecorder recorder;
    recorder.attach(capture);
    capture.start();
    capture.stop();
    capture.start();
    ASSERT_TRUE(recorder.waitForError());
    capture.stop();
    EXPECT_EQ(recorder.errors().size(), 1u);
    try {
        std::rethrow_exception(recorder.errors()[0]);
    } catch (const AudioCaptureError& error) {
        EXPECT_EQ(error.kind(), AudioCaptureError::Kind::noAudioDelivered);
    }
    EXPECT_EQ(recorder.blockCount(), 0u);
}

}  // namespace
}  // namespace orvinta
