#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <iostream>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "tests/state/state_test_support.h"
#include "tests/support/pulse/private_pulse_server.h"

namespace orvinta {
namespace {

using testing::PrivatePulseServer;

constexpr int kWaitMs = 15'000;

// A 1 kHz sine of peak p on each of n channels reads 20 log10(p) + 10 log10(n) - 3.01 LUFS: the
// K-weighting gain at 1 kHz cancels the -0.691 dB offset and a sine's mean square is p^2/2.
double sineLoudness(double peak, int channels) {
    return 20.0 * std::log10(peak) + 10.0 * std::log10(channels) - 3.0103;
}

PrivatePulseServer::Options microphone44k16bitStereo() {
    PrivatePulseServer::Options options;
    options.microphoneChannels = 2;
    options.microphoneRate = 44'100;
    options.microphoneFormat = "s16le";
    return options;
}

bool startAndWait(AppState& state) {
    return test::startAndWait(state, kWaitMs);
}

class AppStateOnPulse : public ::testing::Test {
protected:
    void SetUp() override {
        server.start();
        server.exportToEnvironment();
        server.playSineIntoMicrophone(0.1);
        server.playSineIntoSpeakers(0.05);
    }

    PrivatePulseServer server{microphone44k16bitStereo()};
};

TEST_F(AppStateOnPulse, MicrophoneSineReachesMomentaryLoudnessOnTheUiThread) {
    AppState state;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return state.inputFormatDescription() == u"44.1 kHz / 16-bit / Stereo"; }, kWaitMs));

    int snapshotsOffUiThread = 0;
    int snapshots = 0;
    QObject::connect(&state, &AppState::historyChanged, &state, [&] {
        ++snapshots;
        if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
            ++snapshotsOffUiThread;
        }
    });

    ::testing::internal::CaptureStdout();
    const bool started = startAndWait(state);
    // Six seconds of metering: the statistics line comes with the first snapshot and then with
    // the first one at least 5 s later, so this run prints two (one on a machine so loaded that
    // the second falls after the wait).
    QTest::qWait(6'000);
    const double momentary = state.momentaryLUFS();
    const double shortTerm = state.shortTermLUFS();
    const bool running = state.isRunning();
    state.stop();
    const std::string output = ::testing::internal::GetCapturedStdout();
    std::cout << output << "momentaryLUFS after 6 s: " << momentary
              << " (sine: " << sineLoudness(0.1, 2) << ")\n"
              << std::flush;

    ASSERT_TRUE(started);
    ASSERT_TRUE(running) << state.errorMessageText().toStdString();
    EXPECT_FALSE(state.errorMessage().has_value());
    EXPECT_GT(snapshots, 0);
    EXPECT_EQ(snapshotsOffUiThread, 0);
    EXPECT_NEAR(momentary, sineLoudness(0.1, 2), 0.2);
    EXPECT_NEAR(shortTerm, sineLoudness(0.1, 2), 0.2);
    ASSERT_EQ(state.truePeakDBTP().size(), 2);
    EXPECT_NEAR(state.truePeakDBTP()[0], 20.0 * std::log10(0.1), 0.3);
    ASSERT_TRUE(state.phaseCorrelation().has_value());
    EXPECT_NEAR(*state.phaseCorrelation(), 1.0, 0.01);
    EXPECT_GT(state.elapsedSeconds(), 4.5);

    const std::vector<int> hopCounts = test::hopStatisticsCounts(output);
    ASSERT_GE(hopCounts.size(), 1u);
    ASSERT_LE(hopCounts.size(), 2u);
    EXPECT_EQ(hopCounts[0], 1);
}

TEST_F(AppStateOnPulse, SwitchingToSystemAudioWhileRunningMetersTheSpeakers) {
    AppState state;
    ASSERT_TRUE(startAndWait(state));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return std::abs(state.momentaryLUFS() - sineLoudness(0.1, 2)) < 0.2; }, kWaitMs));

    QSignalSpy finished(&state, &AppState::startFinished);
    state.setInputSource(InputSource::systemAudio);
    EXPECT_EQ(state.inputFormatDescription(), u"48 kHz / 32-bit float / Stereo");
    ASSERT_TRUE(finished.wait(kWaitMs));
    ASSERT_TRUE(state.isRunning()) << state.errorMessageText().toStdString();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return std::abs(state.momentaryLUFS() - sineLoudness(0.05, 2)) < 0.2; }, kWaitMs))
        << state.momentaryLUFS();
    state.stop();
}

TEST_F(AppStateOnPulse, ServerDeathShowsTheErrorAndStops) {
    AppState state;
    ASSERT_TRUE(startAndWait(state));
    ASSERT_TRUE(QTest::qWaitFor([&] { return state.history().size() > 3; }, kWaitMs));

    server.kill();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !state.isRunning(); }, kWaitMs));
    ASSERT_TRUE(state.errorMessage().has_value());
    EXPECT_FALSE(state.errorMessage()->isEmpty());

    // With no server the next start fails with a message and stays stopped.
    ASSERT_TRUE(startAndWait(state));
    EXPECT_FALSE(state.isRunning());
    ASSERT_TRUE(state.errorMessage().has_value());
    EXPECT_FALSE(state.errorMessage()->isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !state.inputFormatDescription(); }, kWaitMs));
}

// SIGSTOP: the server keeps its socket open and answers nothing, so every request times out.
class StoppedServer {
public:
    StoppedServer() {
        QProcess pgrep;
        pgrep.start(QStringLiteral("pgrep"), {QStringLiteral("-P"), QString::number(::getpid()),
                                              QStringLiteral("-x"), QStringLiteral("pulseaudio")});
        pgrep.waitForFinished();
        pid_ = pgrep.readAllStandardOutput().trimmed().toInt();
        if (pid_ > 0) {
            ::kill(pid_, SIGSTOP);
        }
    }
    ~StoppedServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGCONT);
        }
    }
    bool stopped() const { return pid_ > 0; }

private:
    pid_t pid_ = 0;
};

TEST_F(AppStateOnPulse, AServerThatStopsAnsweringBlocksNeitherTheUiThreadNorQuitting) {
    using Clock = std::chrono::steady_clock;
    auto state = std::make_unique<AppState>();
    ASSERT_TRUE(startAndWait(*state));
    ASSERT_TRUE(QTest::qWaitFor([&] { return state->history().size() > 3; }, kWaitMs));

    const StoppedServer stopped;
    ASSERT_TRUE(stopped.stopped());
    // Each of these once asked the server on the UI thread, 1 s per timed-out step; the bounds
    // only tell "at once" from "after a timeout".
    const auto before = Clock::now();
    state->stop();
    state->setInputSource(InputSource::systemAudio);
    state->setInputSource(InputSource::microphone);
    state->start();
    EXPECT_LT(Clock::now() - before, std::chrono::milliseconds(700));
    EXPECT_FALSE(state->isRunning());
    EXPECT_TRUE(state->isStarting());

    // Quitting while that start hangs on the server.
    const auto quitting = Clock::now();
    state.reset();
    EXPECT_LT(Clock::now() - quitting, std::chrono::seconds(2));
}

}  // namespace
}  // namespace orvinta
