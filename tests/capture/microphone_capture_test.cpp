#include "capture/microphone_capture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "capture/audio_capture_error.h"
#include "capture/pulse_connection.h"
#include "tests/capture/capture_recorder.h"
#include "tests/support/pulse/private_pulse_server.h"

namespace orvinta {
namespace {

using testing::CaptureRecorder;
using testing::PrivatePulseServer;
using testing::sineLoudness;

// The error start() throws, or nothing when it succeeds.
std::exception_ptr startFailure(AudioCaptureSource& source) {
    try {
        source.start();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

// The kind of a capture error; nothing for success or any other error.
std::optional<AudioCaptureError::Kind> kindOf(const std::exception_ptr& error) {
    try {
        if (error) {
            std::rethrow_exception(error);
        }
    } catch (const AudioCaptureError& e) {
        return e.kind();
    } catch (...) {
    }
    return std::nullopt;
}

PrivatePulseServer::Options microphone(int channels, unsigned rate, const char* format,
                                       const char* map = "") {
    PrivatePulseServer::Options options;
    options.microphoneChannels = channels;
    options.microphoneRate = rate;
    options.microphoneFormat = format;
    options.microphoneChannelMap = map;
    return options;
}

TEST(MicrophoneCapture, SineArrivesAsExactBlocksAtItsKnownLoudnessInEveryFormat) {
    struct Case {
        PrivatePulseServer::Options options;
        AudioFormatInfo info;
    };
    // The source records the device's own format and converts (and resamples) it itself.
    const Case cases[] = {
        {microphone(2, 44100, "s16le"), {44100.0, 16, false, 2}},
        {microphone(1, 48000, "s24le"), {48000.0, 24, false, 1}},
        {microphone(2, 96000, "float32le"), {96000.0, 32, true, 2}},
    };
    for (const auto& [options, info] : cases) {
        SCOPED_TRACE(info.displayDescription());
        PrivatePulseServer server(options);
        server.start();
        server.exportToEnvironment();
        server.playSineIntoMicrophone(0.1);

        MicrophoneCapture capture;
        CaptureRecorder recorder;
        recorder.attach(capture);
        capture.start();
        EXPECT_EQ(capture.channelCount(), info.channelCount);
        ASSERT_TRUE(recorder.waitForMoreFrames(48000));
        // The format query opens its own connection and leaves the running capture alone.
        EXPECT_EQ(MicrophoneCapture::currentInputFormatInfo(), info);
        ASSERT_TRUE(recorder.waitForMoreFrames(4800));
        capture.stop();

        const auto blocks = recorder.blocks();
        for (const auto& block : blocks) {
            ASSERT_EQ(block.size(), static_cast<std::size_t>(info.channelCount));
            ASSERT_EQ(block[0].size(), 960u);
        }
        EXPECT_NEAR(testing::momentaryLoudnessOfLast400ms(blocks),
                    sineLoudness(0.1, info.channelCount), 0.2);
        EXPECT_EQ(recorder.formats(), std::vector<AudioFormatInfo>{info});
        EXPECT_TRUE(recorder.errors().empty());
    }
}

TEST(MicrophoneCapture, SurroundChannelsAreWeightedByTheirPositions) {
    // The server's usual 5.1 order; a -20 dBFS tone on one channel at a time. Surrounds count
    // +1.5 dB (x1.41), the centre 1.0, the LFE not at all.
    constexpr const char* kMap = "front-left,front-right,rear-left,rear-right,front-center,lfe";
    const double tone = sineLoudness(0.1, 1);
    struct Case {
        int channel;
        double expectedLUFS;
    };
    for (const auto& [channel, expected] :
         {Case{3, tone + 10.0 * std::log10(1.41)}, Case{4, tone}, Case{5, -HUGE_VAL}}) {
        SCOPED_TRACE(channel);
        PrivatePulseServer server(microphone(6, 48000, "s16le", kMap));
        server.start();
        server.exportToEnvironment();
        server.playSineIntoMicrophone(0.1, channel);

        testing::EngineProbe probe;
        probe.engine->start(std::make_shared<MicrophoneCapture>());
        if (std::isfinite(expected)) {
            EXPECT_TRUE(probe.readsMomentary(expected)) << probe.latest().momentaryLUFS;
            continue;
        }
        // The tone is there (its true peak reads) but, a second of snapshots later, not loud.
        ASSERT_TRUE(testing::eventually([&] {
            const auto peaks = probe.latest().truePeakDBTP;
            return peaks.size() == 6 && peaks[5] > -21.0;
        }));
        const std::size_t seen = probe.count();
        ASSERT_TRUE(testing::eventually([&] { return probe.count() > seen + 30; }));
        EXPECT_LT(probe.latest().momentaryLUFS, -70.0);
    }
}

TEST(MicrophoneCapture, FollowsTheDefaultInputWhileMetering) {
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    server.playSineIntoMicrophone(0.1);
    server.pactl({"load-module", "module-null-sink", "sink_name=usb_feed", "channels=2"});
    server.pactl(
        {"load-module", "module-remap-source", "source_name=usb_mic", "master=usb_feed.monitor"});
    server.keepMonitorWarm("usb_feed");
    server.playSine("usb_feed", 2, 44100, 0.05);

    MicrophoneCapture capture;
    CaptureRecorder recorder;
    recorder.attach(capture);
    capture.start();
    ASSERT_TRUE(recorder.waitForMoreFrames(24000));
    EXPECT_NEAR(testing::momentaryLoudnessOfLast400ms(recorder.blocks()), sineLoudness(0.1, 2),
                0.2);

    server.pactl({"set-default-source", "usb_mic"});
    EXPECT_TRUE(testing::eventually([&] {
        recorder.clearBlocks();
        return recorder.waitForMoreFrames(19200) &&
               std::abs(testing::momentaryLoudnessOfLast400ms(recorder.blocks()) -
                        sineLoudness(0.05, 2)) < 0.2;
    }));
    capture.stop();
    EXPECT_TRUE(recorder.errors().empty());
}

TEST(MicrophoneCapture, UnpluggedMicrophoneIsReportedNeverReplacedByAMonitor) {
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    MicrophoneCapture capture;
    CaptureRecorder recorder;
    recorder.attach(capture);
    capture.start();
    // The server falls back to a monitor source, which is system audio, not a microphone.
    server.pactl({"unload-module", "module-remap-source"});
    ASSERT_TRUE(recorder.waitForError());
    capture.stop();
    EXPECT_EQ(recorder.errors().size(), 1u);
}

TEST(MicrophoneCapture, SuspendedMicrophoneIsReportedByTheWatchdog) {
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    server.pactl({"suspend-source", PrivatePulseServer::kMicrophone, "1"});

    MicrophoneCapture capture;
    CaptureRecorder recorder;
    recorder.attach(capture);
    capture.start();
    ASSERT_TRUE(recorder.waitForError());
    capture.stop();
    EXPECT_EQ(kindOf(recorder.errors()[0]), AudioCaptureError::Kind::noAudioDelivered);
    EXPECT_EQ(recorder.blockCount(), 0u);
}

TEST(MicrophoneCapture, StartFailsWithoutAnInputDeviceAServerOrPermission) {
    const auto fails = [](const PrivatePulseServer::Options& options, bool refusing) {
        PrivatePulseServer server(options);
        server.start();
        refusing ? server.exportRefusingToEnvironment() : server.exportToEnvironment();
        MicrophoneCapture capture;
        EXPECT_FALSE(MicrophoneCapture::currentInputFormatInfo());
        return startFailure(capture);
    };
    EXPECT_EQ(kindOf(fails(PrivatePulseServer::nothingAttached(), false)),
              AudioCaptureError::Kind::noInputDeviceAvailable);
    // PulseAudio falls back to the speakers' monitor: system audio, not a microphone.
    EXPECT_EQ(kindOf(fails(PrivatePulseServer::onlyMonitor(), false)),
              AudioCaptureError::Kind::noInputDeviceAvailable);
    EXPECT_EQ(kindOf(fails({}, true)), AudioCaptureError::Kind::permissionDenied);

    PrivatePulseServer server;  // never started
    server.exportToEnvironment();
    MicrophoneCapture capture;
    capture.stop();  // stopping what never started does nothing
    const auto error = startFailure(capture);
    ASSERT_TRUE(error);
    try {
        std::rethrow_exception(error);
    } catch (const PulseError& e) {
        EXPECT_EQ(e.code(), PA_ERR_CONNECTIONREFUSED);
    }
}

}  // namespace
}  // namespace orvinta
