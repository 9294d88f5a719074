#include "capture/system_audio_capture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <sstream>
#include <string>
#include <thread>

#include "capture/audio_capture_error.h"
#include "tests/capture/capture_recorder.h"
#include "tests/support/pulse/private_pulse_server.h"

namespace orvinta {
namespace {

using namespace std::chrono_literals;
using testing::CaptureRecorder;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::PrivatePulseServer;

// A 1 kHz sine of peak `peak` in both channels: -3.01 LUFS per full-scale channel, +3.01 for two.
double expectedStereoSineLoudness(double peak) {
    return 20.0 * std::log10(peak);
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// How many streams record the named source, as the server lists them.
int recordersOf(const PrivatePulseServer& server, const std::string& sourceName) {
    std::string index;
    std::istringstream sources(server.pactl({"list", "short", "sources"}));
    for (std::string line; std::getline(sources, line);) {
        std::istringstream fields(line);
        std::string number, name;
        fields >> number >> name;
        if (name == sourceName) {
            index = number;
        }
    }
    int count = 0;
    std::istringstream outputs(server.pactl({"list", "short", "source-outputs"}));
    for (std::string line; std::getline(outputs, line);) {
        std::istringstream fields(line);
        std::string number, source;
        fields >> number >> source;
        count += !index.empty() && source == index;
    }
    return count;
}

bool allSilent(const std::vector<ChannelBuffers>& blocks) {
    for (const auto& block : blocks) {
        for (const auto& channel : block) {
            if (std::any_of(channel.begin(), channel.end(), [](float s) { return s != 0.0f; })) {
                return false;
            }
        }
    }
    return true;
}

TEST(SystemAudioCapture, SpeakersSineArrivesAsExactBlocksAtItsKnownLoudness) {
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    server.playSineIntoSpeakers(0.1);

    SystemAudioCapture capture;
    CaptureRecorder recorder;
    recorder.attach(capture);
    ::testing::internal::CaptureStdout();
    capture.start();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(capture.channelCount(), 2);
    const bool arrived = recorder.waitForMoreFrames(48000);
    // Let the start watchdog have its say.
    std::this_thread::sleep_until(started + 3300ms);
    capture.stop();
    const std::string output = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(arrived);

    const auto blocks = recorder.blocks();
    for (const auto& block : blocks) {
        ASSERT_EQ(block.size(), 2u);
        ASSERT_EQ(block[0].size(), 960u);
        ASSERT_EQ(block[1].size(), 960u);
    }
    EXPECT_NEAR(testing::momentaryLoudnessOfLast400ms(blocks), expectedStereoSineLoudness(0.1),
                0.2);
    ASSERT_EQ(recorder.formats().size(), 1u);
    EXPECT_EQ(recorder.formats()[0], (AudioFormatInfo{48000.0, 32, true, 2}));
    EXPECT_THAT(output,
                HasSubstr("[Tessaro] SystemAudioCapture: SCStream capture started, waiting for "
                          "audio buffers...\n"));
    EXPECT_THAT(output, HasSubstr("[Tessaro] SystemAudioCapture: first buffer format: 48000.0 "
                                  "Hz, 2 ch, interleaved=true\n"));
    EXPECT_THAT(output, HasSubstr("[Tessaro] SystemAudioCapture: throughput check - 0.0s of "
                                  "capture elapsed, 0.0s of audio content delivered so far"));
    EXPECT_THAT(output, HasSubstr("[Tessaro] SystemAudioCapture watchdog: OK - "));
    EXPECT_TRUE(recorder.errors().empty());
}

TEST(SystemAudioCapture, SineThroughTheEngineReadsItsKnownMomentaryLoudness) {
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    server.playSineIntoSpeakers(0.05);

    testing::EngineProbe probe;
    probe.engine->start(std::make_shared<SystemAudioCapture>());
    ASSERT_TRUE(probe.waitForMoreRealFrames(43200));
    EXPECT_NEAR(probe.momentaryLUFS(), expectedStereoSineLoudness(0.05), 0.2);
    probe.engine->stop();
    EXPECT_EQ(probe.errorCount(), 0u);
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
    EXPECT_NEAR(testing::momentaryLoudnessOfLast400ms(recorder.blocks()),
                expectedStereoSineLoudness(0.1), 0.2);

    // The server moves the playing sine to the new default sink, as a desktop does; the speakers
    // fall silent, so the sine is heard again only if capture moved along.
    server.pactl({"set-default-sink", "headphones"});
    // Nothing but us records the headphones' monitor.
    EXPECT_TRUE(
        testing::eventually([&] { return recordersOf(server, "headphones.monitor") == 1; }));
    recorder.clearBlocks();
    ASSERT_TRUE(recorder.waitForMoreFrames(48000));
    EXPECT_NEAR(testing::momentaryLoudnessOfLast400ms(recorder.blocks()),
                expectedStereoSineLoudness(0.1), 0.2);
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
    EXPECT_THAT(testing::messageOf(recorder.errors()[0]), HasSubstr("no other output device"));
    const std::size_t blocksAtError = recorder.blockCount();
    std::this_thread::sleep_for(300ms);
    capture.stop();
    EXPECT_EQ(recorder.blockCount(), blocksAtError);
    // Nothing played into the speakers; the microphone's sine never reached us.
    EXPECT_TRUE(allSilent(recorder.blocks()));
    EXPECT_EQ(recorder.errors().size(), 1u);
}

TEST(SystemAudioCapture, DyingServerIsReportedAndALaterStartWorks) {
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    server.playSineIntoSpeakers(0.1);

    SystemAudioCapture capture;
    CaptureRecorder recorder;
    recorder.attach(capture);
    capture.start();
    ASSERT_TRUE(recorder.waitForMoreFrames(4800));
    ::testing::internal::CaptureStdout();
    server.kill();
    const bool reported = recorder.waitForError();
    const std::string output = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(reported);
    EXPECT_THAT(testing::messageOf(recorder.errors()[0]), HasSubstr("Connection terminated"));
    EXPECT_THAT(output, HasSubstr("[Tessaro] SystemAudioCapture: SCStream stopped with error: "));
    capture.stop();

    server.start();
    server.playSineIntoSpeakers(0.1);
    capture.start();
    ASSERT_TRUE(recorder.waitForMoreFrames(24000));
    capture.stop();
    EXPECT_EQ(recorder.errors().size(), 1u);
    EXPECT_NEAR(testing::momentaryLoudnessOfLast400ms(recorder.blocks()),
                expectedStereoSineLoudness(0.1), 0.2);
}

TEST(SystemAudioCapture, StartFailuresMapToTheirErrors) {
    const auto failure = [](const char* expectedLine) {
        SystemAudioCapture capture;
        ::testing::internal::CaptureStdout();
        std::optional<AudioCaptureError> error;
        try {
            capture.start();
        } catch (const AudioCaptureError& e) {
            error = e;
        }
        const std::string output = ::testing::internal::GetCapturedStdout();
        EXPECT_THAT(output, HasSubstr(expectedLine));
        return error;
    };
    {
        PrivatePulseServer server(PrivatePulseServer::noSink());
        server.start();
        server.exportToEnvironment();
        const auto error = failure(
            "[Tessaro] SystemAudioCapture: no displays available from SCShareableContent\n");
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), AudioCaptureError::Kind::noDisplayAvailable);
    }
    {
        PrivatePulseServer server;
        server.start();
        server.exportRefusingToEnvironment();
        const auto error = failure(
            "[Tessaro] SystemAudioCapture: SCShareableContent reports permission not granted "
            "(userDeclined)\n");
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), AudioCaptureError::Kind::permissionDenied);
    }
    {
        PrivatePulseServer server;  // never started
        server.exportToEnvironment();
        SystemAudioCapture idle;
        idle.stop();  // stopping what never started does nothing
        EXPECT_EQ(idle.channelCount(), 2);
        const auto error = failure(
            "[Tessaro] SystemAudioCapture: SCShareableContent fetch failed: Connection refused\n");
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), AudioCaptureError::Kind::streamSetupFailed);
        EXPECT_EQ(error->errorDescription(),
                  "Could not start system audio capture: Connection refused");
    }
}

TEST(SystemAudioCapture, WatchdogReportsASilentStreamOnlyForTheLatestStart) {
    PrivatePulseServer server;
    server.start();
    server.exportToEnvironment();
    // A suspended sink's monitor connects but delivers nothing.
    server.pactl({"suspend-sink", PrivatePulseServer::kSpeakers, "1"});

    SystemAudioCapture capture;
    CaptureRecorder recorder;
    recorder.attach(capture);
    ::testing::internal::CaptureStdout();
    capture.start();
    const auto firstStart = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(200ms);
    capture.stop();  // disarms the first watchdog
    std::this_thread::sleep_for(300ms);
    capture.start();
    std::this_thread::sleep_for(1000ms);
    capture.start();  // a second start disarms the second watchdog
    const auto lastStart = std::chrono::steady_clock::now();
    std::this_thread::sleep_until(firstStart + 3300ms);
    const std::size_t errorsBeforeLastWatchdog = recorder.errors().size();
    const bool reported = recorder.waitForError(5s);
    std::this_thread::sleep_until(lastStart + 3300ms);
    capture.stop();
    const std::string output = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(errorsBeforeLastWatchdog, 0u);
    ASSERT_TRUE(reported);
    EXPECT_EQ(recorder.errors().size(), 1u);
    EXPECT_EQ(occurrences(output, "watchdog:"), 1u) << output;
    EXPECT_THAT(output, HasSubstr("[Tessaro] SystemAudioCapture watchdog: 0 sample buffers "
                                  "received after 3s\n"));
    try {
        std::rethrow_exception(recorder.errors()[0]);
    } catch (const AudioCaptureError& error) {
        EXPECT_EQ(error.kind(), AudioCaptureError::Kind::noAudioDelivered);
        EXPECT_THAT(error.errorDescription(),
                    ::testing::StartsWith("No system audio has arrived after 3 seconds."));
    } catch (...) {
        ADD_FAILURE() << "not an AudioCaptureError";
    }
    EXPECT_EQ(recorder.blockCount(), 0u);
}

}  // namespace
}  // namespace orvinta
