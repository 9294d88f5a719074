#include "capture/microphone_capture.h"

#include <gtest/gtest.h>

#include <cmath>

#include "capture/audio_capture_error.h"
#include "tests/capture/capture_recorder.h"
#include "tests/support/pulse/private_pulse_server.h"

namespace orvinta {
namespace {

using testing::EngineProbe;
using testing::PrivatePulseServer;
using testing::sineLoudness;

PrivatePulseServer::Options microphone(int channels, unsigned rate, const char* format,
                                       const char* map = "") {
    PrivatePulseServer::Options options;
    options.microphoneChannels = channels;
    options.microphoneRate = rate;
    options.microphoneFormat = format;
    options.microphoneChannelMap = map;
    return options;
}

TEST(MicrophoneCapture, SineReadsItsKnownLoudnessInEveryFormat) {
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

        const auto capture = std::make_shared<MicrophoneCapture>();
        const EngineProbe probe(capture);
        EXPECT_EQ(capture->channelCount(), info.channelCount);
        EXPECT_TRUE(probe.reads(sineLoudness(0.1, info.channelCount)));
        // The format query opens its own connection and leaves the running capture alone.
        EXPECT_EQ(MicrophoneCapture::currentInputFormatInfo(), info);
        EXPECT_TRUE(probe.passes(3));
        EXPECT_EQ(probe.formats(), std::vector<AudioFormatInfo>{info});
        EXPECT_TRUE(probe.errors().empty());
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

        const EngineProbe probe(std::make_shared<MicrophoneCapture>());
        if (std::isfinite(expected)) {
            EXPECT_TRUE(probe.reads(expected)) << probe.latest().momentaryLUFS;
            continue;
        }
        // The tone is there (its true peak reads) but, a second of snapshots later, not loud.
        ASSERT_TRUE(testing::eventually([&] {
            const auto peaks = probe.latest().truePeakDBTP;
            return peaks.size() == 6 && peaks[5] > -21.0;
        }));
        ASSERT_TRUE(probe.passes(30));
        EXPECT_EQ(probe.loudestMomentaryLUFS(), -HUGE_VAL);
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

    const EngineProbe probe(std::make_shared<MicrophoneCapture>());
    EXPECT_TRUE(probe.reads(sineLoudness(0.1, 2)));
    server.pactl({"set-default-source", "usb_mic"});
    EXPECT_TRUE(probe.reads(sineLoudness(0.05, 2)));
    EXPECT_TRUE(probe.errors().empty());
}

TEST(MicrophoneCapture, LostOrSilentMicrophoneIsReportedNeverReplacedByAMonitor) {
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    server.playSineIntoSpeakers(0.1);
    {
        // The server falls back to a monitor source: system audio, not a microphone.
        const EngineProbe probe(std::make_shared<MicrophoneCapture>());
        server.pactl({"unload-module", "module-remap-source"});
        EXPECT_TRUE(probe.failed());
        EXPECT_EQ(probe.loudestMomentaryLUFS(), -HUGE_VAL);
    }
    // A suspended input connects but never delivers: the start watchdog says so.
    server.pactl(
        {"load-module", "module-remap-source", "source_name=usb_mic", "master=mic_feed.monitor"});
    server.pactl({"set-default-source", "usb_mic"});
    server.pactl({"suspend-source", "usb_mic", "1"});
    const EngineProbe probe(std::make_shared<MicrophoneCapture>());
    ASSERT_TRUE(probe.failed());
    try {
        std::rethrow_exception(probe.errors()[0]);
    } catch (const AudioCaptureError& error) {
        EXPECT_EQ(error.kind(), AudioCaptureError::Kind::noAudioDelivered);
    }
}

}  // namespace
}  // namespace orvinta
