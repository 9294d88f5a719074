// AppState on a private PulseAudio server: real capture, and a server that stops answering.

#include <QCoreApplication>
#include <QProcess>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>

#include "state/app_state.h"
#include "tests/state/state_test_support.h"
#include "tests/support/pulse/private_pulse_server.h"

namespace orvinta {
namespace {

using namespace std::chrono_literals;
using testing::PrivatePulseServer;
using Clock = std::chrono::steady_clock;

constexpr int kWaitMs = 15'000;

class AppStateOnPulse : public ::testing::Test {
protected:
    void SetUp() override {
        server.start();
        server.exportToEnvironment();
        server.playSineIntoMicrophone(0.1);
    }

    // A 44.1 kHz, 16-bit stereo microphone.
    PrivatePulseServer server{[] {
        PrivatePulseServer::Options options;
        options.microphoneRate = 44'100;
        return options;
    }()};
};

TEST_F(AppStateOnPulse, MetersTheMicrophoneAndAServerThatStopsAnsweringBlocksNothing) {
    auto state = std::make_unique<AppState>();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return state->inputFormatDescription() == u"44.1 kHz / 16-bit / Stereo"; }, kWaitMs));
    int offUiThread = 0;
    QObject::connect(state.get(), &AppState::historyChanged, state.get(), [&] {
        offUiThread += QThread::currentThread() != QCoreApplication::instance()->thread();
    });
    ASSERT_TRUE(test::startAndWait(*state, kWaitMs));
    ASSERT_TRUE(state->isRunning()) << state->errorMessageText().toStdString();

    // A 1 kHz sine of peak 0.1 on both channels: 20 log10(0.1) + 10 log10(2) - 3.01 LUFS, as
    // the K-weighting gain at 1 kHz cancels the -0.691 dB offset.
    const double sine = -20.0 + 10.0 * std::log10(2.0) - 3.0103;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return std::abs(state->shortTermLUFS() - sine) < 0.2 && state->elapsedSeconds() > 3.5;
        },
        kWaitMs))
        << state->shortTermLUFS();
    EXPECT_NEAR(state->momentaryLUFS(), sine, 0.2);
    ASSERT_EQ(state->truePeakDBTP().size(), 2);
    EXPECT_NEAR(state->truePeakDBTP()[0], -20.0, 0.3);
    EXPECT_NEAR(state->phaseCorrelation().value_or(0.0), 1.0, 0.01);
    EXPECT_EQ(offUiThread, 0);

    // SIGSTOP: the server keeps its socket open and every request times out.
    QProcess pgrep;
    pgrep.start(QStringLiteral("pgrep"), {QStringLiteral("-P"), QString::number(::getpid()),
                                          QStringLiteral("-x"), QStringLiteral("pulseaudio")});
    pgrep.waitForFinished();
    const struct Stopped {
        pid_t pid;
        ~Stopped() {
            if (pid > 0) {
                ::kill(pid, SIGCONT);
            }
        }
    } stopped{pgrep.readAllStandardOutput().trimmed().toInt()};
    ASSERT_GT(stopped.pid, 0);
    ::kill(stopped.pid, SIGSTOP);

    // Each of these once asked the server on the UI thread, 1 s per timed-out step; the bounds
    // only tell "at once" from "after a timeout".
    const auto before = Clock::now();
    state->stop();
    state->setInputSource(InputSource::systemAudio);
    state->setInputSource(InputSource::microphone);
    state->start();
    EXPECT_LT(Clock::now() - before, 700ms);
    EXPECT_FALSE(state->isRunning());
    EXPECT_TRUE(state->isStarting());

    // Quitting while that start hangs on the server.
    const auto quitting = Clock::now();
    state.reset();
    EXPECT_LT(Clock::now() - quitting, 2s);
}

}  // namespace
}  // namespace orvinta
