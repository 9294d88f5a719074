#include "capture/system_audio_capture.h"

#include <gtest/gtest.h>

#include "capture/audio_capture_error.h"
#include "tests/capture/capture_recorder.h"
#include "tests/support/pulse/private_pulse_server.h"

namespace orvinta {
namespace {

using testing::EngineProbe;
using testing::PrivatePulseServer;
using testing::sineLoudness;

TEST(SystemAudioCapture, SpeakersSineReadsItsKnownLoudness) {
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    server.playSineIntoSpeakers(0.1);

    const auto capture = std::make_shared<SystemAudioCapture>();
    const EngineProbe probe(capture);
    EXPECT_EQ(capture->channelCount(), 2);
    EXPECT_TRUE(probe.reads(sineLoudness(0.1, 2)));
    // Past the start watchdog's 3 s, which must stay quiet while audio flows.
    ASSERT_TRUE(probe.passes(110));
    EXPECT_EQ(probe.formats(), (std::vector<AudioFormatInfo>{{48000.0, 32, true, 2}}));
    EXPECT_TRUE(probe.errors().empty());
}

TEST(SystemAudioCapture, FollowsTheOutputWhenTheUserSwitchesTheDefaultSink) {
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    server.playSineIntoSpeakers(0.1);
    server.pactl({"load-module", "module-null-sink", "sink_name=headphones", "rate=48000",
                  "format=float32le", "channels=2"});

    const EngineProbe probe(std::make_shared<SystemAudioCapture>());
    ASSERT_TRUE(probe.reads(sineLoudness(0.1, 2)));
    // The server moves the playing sine to the new default sink, as a desktop does; the speakers
    // fall silent, so the sine is heard a second later only if capture moved along.
    server.pactl({"set-default-sink", "headphones"});
    ASSERT_TRUE(probe.passes(30));
    EXPECT_TRUE(probe.reads(sineLoudness(0.1, 2)));
    EXPECT_TRUE(probe.errors().empty());
}

TEST(SystemAudioCapture, LosingTheOnlySinkIsAnErrorNeverTheMicrophone) {
    // A microphone that no sink feeds, so that nothing but the speakers is a sink.
    PrivatePulseServer::Options options;
    options.microphone = PrivatePulseServer::Microphone::standalone;
    PrivatePulseServer server(options);
    server.start();
    server.exportToEnvironment();

    const EngineProbe probe(std::make_shared<SystemAudioCapture>());
    server.pactl({"unload-module", "module-null-sink"});
    ASSERT_TRUE(probe.failed());
    ASSERT_TRUE(probe.passes(30));
    // Nothing played into the speakers; the microphone's sine never reached us.
    EXPECT_EQ(probe.loudestMomentaryLUFS(), -HUGE_VAL);
    EXPECT_EQ(probe.errors().size(), 1u);
}

TEST(SystemAudioCapture, WatchdogReportsASilentStreamOfTheLatestStart) {
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    // A suspended sink's monitor connects but delivers nothing.
    server.pactl({"suspend-sink", PrivatePulseServer::kSpeakers, "1"});

    const auto capture = std::make_shared<SystemAudioCapture>();
    capture->start();
    capture->stop();
    const EngineProbe probe(capture);
    ASSERT_TRUE(probe.failed());
    EXPECT_EQ(probe.errors().size(), 1u);
    try {
        std::rethrow_exception(probe.errors()[0]);
    } catch (const AudioCaptureError& error) {
        EXPECT_EQ(error.kind(), AudioCaptureError::Kind::noAudioDelivered);
    }
}

}  // namespace
}  // namespace orvinta
