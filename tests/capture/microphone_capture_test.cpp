#include "capture/microphone_capture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>

#include "capture/audio_capture_error.h"
#include "tests/capture/capture_recorder.h"
#include "tests/support/pulse/private_pulse_server.h"

namespace orvinta {
namespace {

using namespace std::chrono_literals;
using testing::CaptureRecorder;
using ::testing::HasSubstr;
using testing::PrivatePulseServer;

// BS.1770: a full-scale 1 kHz sine reads -3.01 LUFS per channel, and channels add by power.
double expectedSineLoudness(double peak, int channels) {
    return 20.0 * std::log10(peak) + 10.0 * std::log10(channels) - 3.0103;
}

AudioCaptureError::Kind startFailure(AudioCaptureSource& source) {
    try {
        source.start();
    } catch (const AudioCaptureError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "start() succeeded";
    return AudioCaptureError::Kind::unsupportedOSVersion;
}

PrivatePulseServer::Options microphone(int channels, unsigned rate, const char* format) {
    PrivatePulseServer::Options options;
    options.microphoneChannels = channels;
    options.microphoneRate = rate;
    options.microphoneFormat = format;
    return options;
}

TEST(MicrophoneCapture, StereoSineArrivesAsExactBlocksAtItsKnownLoudness) {
    // 44.1 kHz 16-bit: the source records the device's own format and resamples it itself.
    PrivatePulseServer server(microphone(2, 44100, "s16le"));
    server.start();
    server.exportToEnvironment();
    server.playSineIntoMicrophone(0.1);

    MicrophoneCapture capture;
    CaptureRecorder recorder;
    recorder.attach(capture);
    capture.start();
    EXPECT_EQ(capture.channelCount(), 2);
    ASSERT_TRUE(recorder.waitForMoreFrames(48000));
    capture.stop();
    const std::size_t blocksAtStop = recorder.blockCount();

    const auto blocks = recorder.blocks();
    for (const auto& block : blocks) {
        ASSERT_EQ(block.size(), 2u);
        ASSERT_EQ(block[0].size(), 960u);
        ASSERT_EQ(block[1].size(), 960u);
    }
    EXPECT_NEAR(testing::momentaryLoudnessOfLast400ms(blocks), expectedSineLoudness(0.1, 2), 0.2);
    ASSERT_EQ(recorder.formats().size(), 1u);
    EXPECT_EQ(recorder.formats()[0], (AudioFormatInfo{44100.0, 16, false, 2}));
    EXPECT_EQ(recorder.formats()[0].displayDescription(), "44.1 kHz / 16-bit / Stereo");

    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(recorder.blockCount(), blocksAtStop) << "a block arrived after stop()";
    EXPECT_TRUE(recorder.errors().empty());
}

TEST(MicrophoneCapture, SineThroughTheEngineReadsItsKnownMomentaryLoudness) {
    PrivatePulseServer server(microphone(2, 44100, "s16le"));
    server.start();
    server.exportToEnvironment();
    server.playSineIntoMicrophone(0.1);

    testing::EngineProbe probe;
    probe.engine->start(std::make_shared<MicrophoneCapture>());
    // Half a second past the first full 400 ms window of real audio.
    ASSERT_TRUE(probe.waitForMoreRealFrames(43200));
    EXPECT_NEAR(probe.momentaryLUFS(), expectedSineLoudness(0.1, 2), 0.2);
    probe.engine->stop();
    EXPECT_EQ(probe.errorCount(), 0u);
}

TEST(MicrophoneCapture, MonoMicrophoneDeliversOneChannel) {
    PrivatePulseServer server(microphone(1, 48000, "s24le"));
    server.start();
    server.exportToEnvironment();
    server.playSineIntoMicrophone(0.1);

    const auto queried = MicrophoneCapture::currentInputFormatInfo();
    ASSERT_TRUE(queried);
    EXPECT_EQ(*queried, (AudioFormatInfo{48000.0, 24, false, 1}));
    EXPECT_EQ(queried->displayDescription(), "48 kHz / 24-bit / Mono");

    MicrophoneCapture capture;
    CaptureRecorder recorder;
    recorder.attach(capture);
    capture.start();
    EXPECT_EQ(capture.channelCount(), 1);
    ASSERT_TRUE(recorder.waitForMoreFrames(48000));
    // The format query opens its own connection and leaves the running capture alone.
    EXPECT_EQ(MicrophoneCapture::currentInputFormatInfo(), queried);
    ASSERT_TRUE(recorder.waitForMoreFrames(4800));
    capture.stop();

    const auto blocks = recorder.blocks();
    for (const auto& block : blocks) {
        ASSERT_EQ(block.size(), 1u);
        ASSERT_EQ(block[0].size(), 960u);
    }
    EXPECT_NEAR(testing::momentaryLoudnessOfLast400ms(blocks), expectedSineLoudness(0.1, 1), 0.2);
    ASSERT_EQ(recorder.formats().size(), 1u);
    EXPECT_EQ(recorder.formats()[0], *queried);
}

TEST(MicrophoneCapture, FloatMicrophoneIsDescribedAsFloat) {
    PrivatePulseServer server(microphone(2, 96000, "float32le"));
    server.start();
    server.exportToEnvironment();
    const auto info = MicrophoneCapture::currentInputFormatInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->displayDescription(), "96 kHz / 32-bit float / Stereo");
}

TEST(MicrophoneCapture, NoInputDeviceWhenThereIsNoSourceOnlyAMonitorOrNoServer) {
    {
        PrivatePulseServer server(PrivatePulseServer::nothingAttached());
        server.start();
        server.exportToEnvironment();
        MicrophoneCapture capture;
        EXPECT_EQ(startFailure(capture), AudioCaptureError::Kind::noInputDeviceAvailable);
        EXPECT_FALSE(MicrophoneCapture::currentInputFormatInfo());
    }
    {
        // PulseAudio falls back to the speakers' monitor; that is system audio, not a microphone.
        PrivatePulseServer server(PrivatePulseServer::onlyMonitor());
        server.start();
        server.exportToEnvironment();
        ASSERT_THAT(server.pactl({"get-default-source"}), HasSubstr("speakers.monitor"));
        MicrophoneCapture capture;
        EXPECT_EQ(startFailure(capture), AudioCaptureError::Kind::noInputDeviceAvailable);
        EXPECT_FALSE(MicrophoneCapture::currentInputFormatInfo());
    }
    {
        PrivatePulseServer server;  // never started
        server.exportToEnvironment();
        MicrophoneCapture capture;
        capture.stop();  // stopping what never started does nothing
        EXPECT_EQ(capture.channelCount(), 2);
        EXPECT_EQ(startFailure(capture), AudioCaptureError::Kind::noInputDeviceAvailable);
        EXPECT_FALSE(MicrophoneCapture::currentInputFormatInfo());
    }
}

TEST(MicrophoneCapture, ServerThatRefusesUsIsAPermissionDenial) {
    PrivatePulseServer server;
    server.start();
    server.exportRefusingToEnvironment();
    MicrophoneCapture capture;
    ::testing::internal::CaptureStdout();
    const auto kind = startFailure(capture);
    const std::string output = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(kind, AudioCaptureError::Kind::permissionDenied);
    EXPECT_THAT(output, HasSubstr("[Tessaro] MicrophoneCapture: authorizationStatus = denied\n"));
    EXPECT_THAT(output, HasSubstr("[Tessaro] MicrophoneCapture: status is .denied - "));
}

TEST(MicrophoneCapture, DyingServerIsReportedAndALaterStartWorks) {
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    server.playSineIntoMicrophone(0.1);

    MicrophoneCapture capture;
    CaptureRecorder recorder;
    recorder.attach(capture);
    capture.start();
    ASSERT_TRUE(recorder.waitForMoreFrames(4800));
    server.kill();
    ASSERT_TRUE(recorder.waitForError());
    EXPECT_THAT(testing::messageOf(recorder.errors()[0]), HasSubstr("Connection terminated"));
    capture.stop();

    server.start();
    server.playSineIntoMicrophone(0.1);
    capture.start();
    ASSERT_TRUE(recorder.waitForMoreFrames(24000));
    capture.stop();
    EXPECT_EQ(recorder.errors().size(), 1u);
    EXPECT_NEAR(testing::momentaryLoudnessOfLast400ms(recorder.blocks()),
                expectedSineLoudness(0.1, 2), 0.2);
}

TEST(MicrophoneCapture, UnpluggedMicrophoneIsReportedNotReplaced) {
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    MicrophoneCapture capture;
    CaptureRecorder recorder;
    recorder.attach(capture);
    capture.start();
    server.pactl({"unload-module", "module-remap-source"});
    ASSERT_TRUE(recorder.waitForError());
    EXPECT_THAT(testing::messageOf(recorder.errors()[0]), HasSubstr("Entity killed"));
    capture.stop();
}

}  // namespace
}  // namespace orvinta
