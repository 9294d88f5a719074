#include "state/app_state.h"

#include <QCoreApplication>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "capture/audio_capture_error.h"
#include "capture/audio_capture_source.h"
#include "tests/state/state_test_support.h"
#include "tests/support/fake_source/scripted_capture_source.h"

namespace orvinta {
namespace {

using namespace std::chrono_literals;
using test::hopStatisticsCounts;
using test::linesContaining;
using test::startAndWait;

constexpr double kSilence = -std::numeric_limits<double>::infinity();
constexpr int kWaitMs = 10'000;

// The scripted source playing a 1 kHz sine from a 44.1 kHz, 24-bit device in real time. The
// level can change while it plays, the right channel can be inverted, and the start can fail
// or be slow.
class SineSource final : public ScriptedCaptureSource {
public:
    struct Options {
        int channels = 2;
        double levelDBFS = -20.0;
        bool invertRight = false;
        std::exception_ptr startError;
        std::chrono::milliseconds startDelay{0};
    };

    explicit SineSource(const Options& options)
        : SineSource(options, std::make_shared<std::atomic<double>>(options.levelDBFS)) {}

    void start() override {
        std::this_thread::sleep_for(startDelay_);
        ScriptedCaptureSource::start();
    }
    void setLevel(double dbfs) { *level_ = dbfs; }

private:
    SineSource(const Options& options, std::shared_ptr<std::atomic<double>> level)
        : ScriptedCaptureSource(script(options, level)),
          level_(std::move(level)),
          startDelay_(options.startDelay) {}

    static ScriptedCaptureSource::Options script(const Options& options,
                                                 std::shared_ptr<std::atomic<double>> level) {
        ScriptedCaptureSource::Options script;
        script.format = {44'100.0, options.channels, SampleType::signed24Packed, true};
        script.startError = options.startError;
        script.signal = [level, invert = options.invertRight](int channel, std::int64_t frame) {
            const double sample =
                std::pow(10.0, level->load() / 20.0) *
                std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(frame) / 44'100.0);
            return invert && channel == 1 ? -sample : sample;
        };
        return script;
    }

    std::shared_ptr<std::atomic<double>> level_;
    std::chrono::milliseconds startDelay_;
};

// Hands out SineSources and remembers every one, with the input it was made for.
struct SourceFactoryLog {
    std::vector<InputSource> requested;
    std::vector<std::shared_ptr<SineSource>> made;
    SineSource::Options nextOptions;

    AppState::SourceFactory factory() {
        return [this](InputSource input) {
            requested.push_back(input);
            auto source = std::make_shared<SineSource>(nextOptions);
            made.push_back(source);
            return source;
        };
    }
};

const AudioFormatInfo kMicrophoneFormat{48'000.0, 24, false, 1};

AppState::InputFormatQuery microphoneQuery() {
    return [] { return std::optional<AudioFormatInfo>(kMicrophoneFormat); };
}

// A monotonic clock that runs with real time but can be moved forward by hand. Read from the
// engine's processing queue as well as from the test, hence the atomic offset.
struct AdjustableClock {
    std::atomic<std::int64_t> offsetNs{0};

    AppState::MonotonicClock clock() {
        return [this] {
            return std::chrono::steady_clock::now() + std::chrono::nanoseconds(offsetNs.load());
        };
    }
    void advance(std::chrono::duration<double> by) {
        offsetNs += std::chrono::duration_cast<std::chrono::nanoseconds>(by).count();
    }
};

bool waitFor(const std::function<bool()>& condition, int timeoutMs = kWaitMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

// Waits until `count` more history points have been appended, that is `count` snapshots applied.
bool waitForSnapshots(AppState& state, int count) {
    QSignalSpy history(&state, &AppState::historyChanged);
    return waitFor([&] { return history.count() >= count; });
}

LoudnessSnapshot snapshotWith(double momentary, std::optional<double> correlation) {
    LoudnessSnapshot snapshot;
    snapshot.momentaryLUFS = momentary;
    snapshot.shortTermLUFS = momentary - 1.0;
    snapshot.phaseCorrelation = correlation;
    return snapshot;
}

class AppStateTest : public testing::Test {
protected:
    AppStateTest() { state.setMonotonicClock(clock.clock()); }

    // The readings of a fresh or just reset state.
    void expectNoReadings() const {
        for (double value : {state.momentaryLUFS(), state.shortTermLUFS(), state.integratedLUFS(),
                             state.maxMomentaryLUFS()}) {
            EXPECT_EQ(value, kSilence);
        }
        EXPECT_EQ(state.loudnessRangeLU(), 0.0);
        EXPECT_EQ(state.history().size(), 0);
        EXPECT_FALSE(state.phaseCorrelation().has_value());
        EXPECT_EQ(state.goniometerPoints().size(), 0);
        EXPECT_EQ(state.spectrumDB().rowCount(), 0);
    }

    SourceFactoryLog sources;
    AdjustableClock clock;
    AppState state{sources.factory(), microphoneQuery()};
};

TEST_F(AppStateTest, FreshStateHoldsTheDefaults) {
    EXPECT_FALSE(state.isRunning());
    EXPECT_EQ(state.inputSource(), InputSource::microphone);
    EXPECT_EQ(state.property("inputSourceDisplayName").toString(), u"Microphone");
    EXPECT_EQ(state.property("target").toString(), u"ebuR128");
    EXPECT_EQ(state.property("targetShortName").toString(), u"EBU R128");
    EXPECT_EQ(state.property("targetMenuLabel").toString(), u"-23");
    EXPECT_EQ(state.property("effectiveTargetLUFS").toDouble(), -23.0);
    EXPECT_FALSE(state.property("targetOverrideLUFS").isValid());
    EXPECT_EQ(state.radarCycleSeconds(), 60.0);
    EXPECT_EQ(state.radarOuterLUFS(), -3.0);
    EXPECT_EQ(state.radarRangeLU(), 20.0);
    EXPECT_EQ(state.historyWindowSeconds(), 60.0);
    EXPECT_FALSE(state.errorMessage().has_value());
    EXPECT_EQ(state.inputFormatDescription(),
              QString::fromStdString(kMicrophoneFormat.displayDescription()));
    expectNoReadings();
    EXPECT_TRUE(state.truePeakDBTP().isEmpty());
    EXPECT_EQ(state.elapsedSeconds(), 0.0);
    EXPECT_FALSE(state.property("phaseCorrelation").isValid());
    EXPECT_EQ(state.resetSignal(), 0);
    EXPECT_TRUE(sources.requested.empty());
}

TEST_F(AppStateTest, StartReturnsAtOnceThenRunsWithAnEmptyHistory) {
    state.applySnapshot(snapshotWith(-30.0, std::nullopt));
    ASSERT_EQ(state.history().size(), 1);

    QSignalSpy finished(&state, &AppState::startFinished);
    QSignalSpy running(&state, &AppState::isRunningChanged);
    state.start();
    // Nothing has been applied yet: the engine starts on a background thread.
    EXPECT_FALSE(state.isRunning());
    ASSERT_TRUE(finished.wait(kWaitMs));

    EXPECT_TRUE(state.isRunning());
    EXPECT_EQ(running.count(), 1);
    EXPECT_EQ(state.history().size(), 0);
    EXPECT_EQ(state.elapsedSeconds(), 0.0);
    ASSERT_EQ(sources.requested.size(), 1u);
    EXPECT_EQ(sources.requested[0], InputSource::microphone);

    // The source's format report replaces the device query's text.
    EXPECT_TRUE(waitFor([&] {
        return state.inputFormatDescription() ==
               QString::fromStdString(AudioFormatInfo{44'100.0, 24, false, 2}.displayDescription());
    }));

    state.stop();
    EXPECT_FALSE(state.isRunning());
    EXPECT_EQ(sources.made[0]->stopCount(), 1);
    // Stopping asks the device again.
    EXPECT_EQ(state.inputFormatDescription(),
              QString::fromStdString(kMicrophoneFormat.displayDescription()));
}

TEST_F(AppStateTest, FailedStartShowsTheErrorAndTheNextStartClearsIt) {
    const AudioCaptureError denied = AudioCaptureError::permissionDenied();
    sources.nextOptions.startError = std::make_exception_ptr(denied);
    state.applySnapshot(snapshotWith(-18.0, std::nullopt));

    testing::internal::CaptureStdout();
    ASSERT_TRUE(startAndWait(state));
    const std::string output = testing::internal::GetCapturedStdout();

    const QString text = QString::fromStdString(denied.errorDescription());
    ASSERT_FALSE(text.isEmpty());
    EXPECT_FALSE(state.isRunning());
    EXPECT_EQ(state.errorMessage(), text);
    EXPECT_EQ(state.property("errorMessage").toString(), text);
    EXPECT_EQ(linesContaining(output, "[Tessaro] AppState: engine.start(with:) threw: " +
                                          denied.errorDescription())
                  .size(),
              1u);
    // The last readings stay.
    EXPECT_EQ(state.momentaryLUFS(), -18.0);

    sources.nextOptions.startError = nullptr;
    QSignalSpy finished(&state, &AppState::startFinished);
    state.start();
    EXPECT_FALSE(state.errorMessage().has_value());
    ASSERT_TRUE(finished.wait(kWaitMs));
    EXPECT_TRUE(state.isRunning());
    EXPECT_FALSE(state.errorMessage().has_value());
}

TEST_F(AppStateTest, ErrorsWithoutADescriptionAndThrowingFactoriesStillReadAsText) {
    sources.nextOptions.startError = std::make_exception_ptr(std::runtime_error("device on fire"));
    ASSERT_TRUE(startAndWait(state));
    EXPECT_EQ(state.errorMessage(), u"device on fire");

    sources.nextOptions.startError = std::make_exception_ptr(42);
    ASSERT_TRUE(startAndWait(state));
    ASSERT_TRUE(state.errorMessage().has_value());
    EXPECT_GT(state.errorMessage()->size(), 10);
    EXPECT_FALSE(state.isRunning());

    // A factory that throws fails the start instead of escaping.
    AppState throwing(
        [](InputSource) -> std::shared_ptr<AudioCaptureSource> {
            throw std::runtime_error("no such device");
        },
        microphoneQuery());
    ASSERT_TRUE(startAndWait(throwing));
    EXPECT_FALSE(throwing.isRunning());
    EXPECT_EQ(throwing.errorMessage(), u"no such device");
}

TEST_F(AppStateTest, EngineErrorShowsItsTextAndStops) {
    ASSERT_TRUE(startAndWait(state));
    ASSERT_TRUE(waitForSnapshots(state, 2));

    const AudioCaptureError lost = AudioCaptureError::streamSetupFailed("Connection terminated");
    testing::internal::CaptureStdout();
    sources.made[0]->reportError(std::make_exception_ptr(lost));
    const bool stopped = waitFor([&] { return !state.isRunning(); });
    const std::string output = testing::internal::GetCapturedStdout();

    ASSERT_TRUE(stopped);
    EXPECT_EQ(state.errorMessage(), QString::fromStdString(lost.errorDescription()));
    EXPECT_EQ(linesContaining(
                  output, "[Tessaro] AppState: engine reported error: " + lost.errorDescription())
                  .size(),
              1u);
    EXPECT_EQ(sources.made[0]->stopCount(), 1);
    // The readings of the run stay on screen.
    EXPECT_GT(state.history().size(), 0);
}

TEST_F(AppStateTest, ErrorOfAStoppedRunDoesNotStopItsSuccessor) {
    ASSERT_TRUE(startAndWait(state));
    ASSERT_TRUE(waitForSnapshots(state, 2));

    // The old source fails; its report is queued for the UI thread, which is busy restarting.
    sources.made[0]->reportError(std::make_exception_ptr(std::runtime_error("old device gone")));
    std::this_thread::sleep_for(100ms);
    QSignalSpy finished(&state, &AppState::startFinished);
    state.start();
    ASSERT_TRUE(finished.wait(kWaitMs));

    EXPECT_TRUE(state.isRunning());
    EXPECT_FALSE(state.errorMessage().has_value());
    EXPECT_EQ(sources.made[1]->stopCount(), 0);

    // With nothing running, a late report is still shown.
    sources.made[1]->reportError(std::make_exception_ptr(std::runtime_error("new device gone")));
    std::this_thread::sleep_for(100ms);
    state.stop();
    QTest::qWait(50);
    EXPECT_EQ(state.errorMessage(), u"new device gone");
    EXPECT_FALSE(state.isRunning());
}

TEST_F(AppStateTest, SnapshotsPublishTheSinesLoudnessAndHoldTheMaximum) {
    sources.nextOptions.levelDBFS = -10.0;
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (const char* signal : {SIGNAL(momentaryLUFSChanged()), SIGNAL(shortTermLUFSChanged()),
                               SIGNAL(truePeakDBTPChanged()), SIGNAL(goniometerPointsChanged()),
                               SIGNAL(spectrumDBChanged()), SIGNAL(elapsedSecondsChanged()),
                               SIGNAL(phaseCorrelationChanged())}) {
        spies.push_back(std::make_unique<QSignalSpy>(&state, signal));
    }
    ASSERT_TRUE(startAndWait(state));

    // A 1 kHz sine at the same level in both channels reads its level in LUFS: the K-weighting
    // gain at 1 kHz cancels the -0.691 dB offset, and two channels of mean square A^2/2 add up
    // to A^2.
    ASSERT_TRUE(waitFor([&] {
        return std::abs(state.shortTermLUFS() - -10.0) < 0.2 &&
               std::abs(state.momentaryLUFS() - -10.0) < 0.2;
    })) << state.shortTermLUFS()
        << " " << state.momentaryLUFS();
    EXPECT_NEAR(state.maxMomentaryLUFS(), -10.0, 0.2);
    ASSERT_EQ(state.truePeakDBTP().size(), 2);
    EXPECT_NEAR(state.truePeakDBTP()[0], -10.0, 0.2);
    ASSERT_TRUE(state.phaseCorrelation().has_value());
    EXPECT_NEAR(*state.phaseCorrelation(), 1.0, 1e-3);
    EXPECT_GT(state.goniometerPoints().size(), 0);
    EXPECT_LE(state.goniometerPoints().size(), 2000);
    ASSERT_EQ(state.spectrumDB().rowCount(), 2);
    EXPECT_EQ(state.spectrumDB().rows()[0].size(), 192u);
    for (const auto& spy : spies) {
        EXPECT_GT(spy->count(), 0) << spy->signal().toStdString();
    }

    const HistoryPointList history = state.history();
    ASSERT_GT(history.size(), 10);
    for (int i = 0; i < history.size(); ++i) {
        EXPECT_EQ(history.points()[i].id, static_cast<quint64>(i + 1));
        EXPECT_GE(history.points()[i].elapsedSeconds,
                  i > 0 ? history.points()[i - 1].elapsedSeconds : 0.0);
    }
    EXPECT_EQ(history.points().back().momentaryLUFS, state.momentaryLUFS());
    EXPECT_EQ(history.points().back().shortTermLUFS, state.shortTermLUFS());
    EXPECT_EQ(history.points().back().elapsedSeconds, state.elapsedSeconds());

    // 20 dB quieter: the momentary reading follows, the maximum holds.
    sources.made[0]->setLevel(-30.0);
    ASSERT_TRUE(waitFor([&] { return std::abs(state.momentaryLUFS() - -30.0) < 0.2; }));
    EXPECT_NEAR(state.maxMomentaryLUFS(), -10.0, 0.2);
}

TEST_F(AppStateTest, MaximumMomentaryStartsAfreshWithEachRun) {
    sources.nextOptions.levelDBFS = -10.0;
    ASSERT_TRUE(startAndWait(state));
    ASSERT_TRUE(waitFor([&] { return std::abs(state.maxMomentaryLUFS() - -10.0) < 0.2; }));
    state.stop();

    sources.nextOptions.levelDBFS = -30.0;
    QSignalSpy finished(&state, &AppState::startFinished);
    state.start();
    ASSERT_TRUE(finished.wait(kWaitMs));
    EXPECT_EQ(state.maxMomentaryLUFS(), kSilence);
    ASSERT_TRUE(waitFor([&] { return std::abs(state.momentaryLUFS() - -30.0) < 0.2; }));
    EXPECT_NEAR(state.maxMomentaryLUFS(), -30.0, 0.2);
}

TEST_F(AppStateTest, OppositeChannelsReadMinusOneAndMonoReadsNoCorrelation) {
    sources.nextOptions.invertRight = true;
    ASSERT_TRUE(startAndWait(state));
    // The smoothed reading settles on -1 once the resampler's start-up has passed.
    EXPECT_TRUE(waitFor([&] {
        return state.phaseCorrelation() && std::abs(*state.phaseCorrelation() + 1.0) < 1e-3;
    })) << state.phaseCorrelation().value_or(2.0);
    state.stop();

    // A mono input carries no correlation and one peak.
    sources.nextOptions.channels = 1;
    ASSERT_TRUE(startAndWait(state));
    ASSERT_TRUE(waitForSnapshots(state, 5));
    EXPECT_FALSE(state.phaseCorrelation().has_value());
    EXPECT_EQ(state.truePeakDBTP().size(), 1);
}

TEST_F(AppStateTest, CorrelationStartsUnsmoothedThenSmoothedAndTheMaximumHolds) {
    state.applySnapshot(snapshotWith(-20.0, 1.0));
    EXPECT_EQ(state.phaseCorrelation(), 1.0);
    state.applySnapshot(snapshotWith(-20.0, -1.0));
    EXPECT_DOUBLE_EQ(*state.phaseCorrelation(), 0.3 * -1.0 + 0.7 * 1.0);
    state.applySnapshot(snapshotWith(-20.0, -1.0));
    EXPECT_DOUBLE_EQ(*state.phaseCorrelation(), 0.3 * -1.0 + 0.7 * 0.4);

    state.applySnapshot(snapshotWith(-20.0, std::nullopt));
    EXPECT_FALSE(state.phaseCorrelation().has_value());
    state.applySnapshot(snapshotWith(-20.0, 0.5));
    EXPECT_EQ(state.phaseCorrelation(), 0.5);

    // A non-finite reading would poison every later smoothed value.
    state.applySnapshot(snapshotWith(-20.0, std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(state.phaseCorrelation().has_value());

    // The maximum momentary loudness holds through quieter and silent snapshots.
    state.applySnapshot(snapshotWith(-30.0, std::nullopt));
    EXPECT_EQ(state.maxMomentaryLUFS(), -20.0);
    state.applySnapshot(snapshotWith(kSilence, std::nullopt));
    EXPECT_EQ(state.maxMomentaryLUFS(), -20.0);
    EXPECT_EQ(state.momentaryLUFS(), kSilence);
    state.applySnapshot(snapshotWith(-12.5, std::nullopt));
    EXPECT_EQ(state.maxMomentaryLUFS(), -12.5);
}

TEST_F(AppStateTest, ResetWhileRunningClearsValuesAndRestartsHistoryIds) {
    // Stopped, a reset leaves the empty peak list empty.
    state.reset();
    EXPECT_TRUE(state.truePeakDBTP().isEmpty());
    ASSERT_TRUE(startAndWait(state));
    ASSERT_TRUE(
        waitFor([&] { return state.history().size() >= 10 && state.momentaryLUFS() > -30; }));
    const double elapsedBefore = state.elapsedSeconds();
    QSignalSpy resetSpy(&state, &AppState::resetSignalChanged);

    state.reset();
    EXPECT_EQ(resetSpy.count(), 1);
    EXPECT_EQ(state.resetSignal(), 2);
    EXPECT_TRUE(state.isRunning());
    expectNoReadings();
    EXPECT_EQ(state.truePeakDBTP(), (QList<double>{kSilence, kSilence}));
    EXPECT_EQ(state.elapsedSeconds(), elapsedBefore);

    ASSERT_TRUE(waitForSnapshots(state, 3));
    const HistoryPointList history = state.history();
    ASSERT_GE(history.size(), 3);
    EXPECT_EQ(history.points()[0].id, 1u);
    EXPECT_EQ(history.points()[2].id, 3u);
    EXPECT_GT(history.points()[0].elapsedSeconds, elapsedBefore);
    EXPECT_GE(state.elapsedSeconds(), history.points()[0].elapsedSeconds);
}

TEST_F(AppStateTest, HistoryKeepsTheLastSixtyTwoSecondsAndAlwaysTheNewestPoint) {
    ASSERT_TRUE(startAndWait(state));
    state.stop();
    // Let the snapshots still on their way land before feeding the history by hand.
    QTest::qWait(200);

    state.reset();
    for (int second = 1; second <= 70; ++second) {
        clock.advance(1s);
        state.applySnapshot(snapshotWith(-20.0 - second, std::nullopt));
    }
    HistoryPointList history = state.history();
    const double newest = state.elapsedSeconds();
    ASSERT_GT(history.size(), 0);
    EXPECT_EQ(history.points().back().id, 70u);
    EXPECT_EQ(history.points().back().elapsedSeconds, newest);
    EXPECT_GE(history.points().front().elapsedSeconds, newest - 62.0);
    // One second apart, so exactly the points of the last 62 s are left (63 with both ends
    // unless the fractions put the oldest just outside).
    EXPECT_GE(history.size(), 62);
    EXPECT_LE(history.size(), 63);
    const quint64 firstId = history.points().front().id;
    EXPECT_EQ(firstId, static_cast<quint64>(70 - history.size() + 1));

    // A long gap trims everything but the point just added.
    clock.advance(500s);
    state.applySnapshot(snapshotWith(-40.0, std::nullopt));
    history = state.history();
    ASSERT_EQ(history.size(), 1);
    EXPECT_EQ(history.points()[0].id, 71u);
    EXPECT_EQ(history.points()[0].momentaryLUFS, -40.0);
}

TEST_F(AppStateTest, SourceChangeWhileRunningRestartsOnTheNewSource) {
    ASSERT_TRUE(startAndWait(state));
    ASSERT_TRUE(waitForSnapshots(state, 2));

    QSignalSpy finished(&state, &AppState::startFinished);
    testing::internal::CaptureStdout();
    state.setInputSource(InputSource::systemAudio);
    EXPECT_EQ(state.inputFormatDescription(), u"48 kHz / 32-bit float / Stereo");
    const bool restarted = finished.wait(kWaitMs);
    const std::string output = testing::internal::GetCapturedStdout();

    ASSERT_TRUE(restarted);
    EXPECT_TRUE(state.isRunning());
    ASSERT_EQ(sources.requested.size(), 2u);
    EXPECT_EQ(sources.requested[1], InputSource::systemAudio);
    EXPECT_EQ(sources.made[0]->stopCount(), 1);
    EXPECT_EQ(sources.made[1]->startCount(), 1);
    EXPECT_EQ(linesContaining(output,
                              "[Tessaro] AppState: restarting capture for input source change -> "
                              "System Audio")
                  .size(),
              1u);
    EXPECT_TRUE(waitForSnapshots(state, 2));
}

TEST_F(AppStateTest, SourceChangeWhileStoppedOnlyRefreshesTheFormatText) {
    QSignalSpy sourceSpy(&state, &AppState::inputSourceChanged);
    state.setProperty("inputSource", QStringLiteral("systemAudio"));
    EXPECT_EQ(state.inputSource(), InputSource::systemAudio);
    EXPECT_EQ(sourceSpy.count(), 1);
    EXPECT_EQ(state.inputFormatDescription(), u"48 kHz / 32-bit float / Stereo");

    state.setInputSource(InputSource::systemAudio);
    state.setProperty("inputSource", QStringLiteral("speakers"));
    EXPECT_EQ(sourceSpy.count(), 1);
    EXPECT_EQ(state.inputSource(), InputSource::systemAudio);

    state.setInputSource(InputSource::microphone);
    EXPECT_EQ(state.inputFormatDescription(),
              QString::fromStdString(kMicrophoneFormat.displayDescription()));
    QTest::qWait(50);
    EXPECT_TRUE(sources.requested.empty());
    EXPECT_FALSE(state.isRunning());

    // A missing microphone leaves no format text.
    AppState noDevice(sources.factory(), [] { return std::optional<AudioFormatInfo>(); });
    EXPECT_FALSE(noDevice.inputFormatDescription().has_value());
    EXPECT_EQ(noDevice.property("inputFormatDescription").toString(), QString());
    noDevice.setInputSource(InputSource::systemAudio);
    EXPECT_EQ(noDevice.inputFormatDescription(), u"48 kHz / 32-bit float / Stereo");
}

TEST_F(AppStateTest, StopDuringASlowStartLeavesTheStateStopped) {
    sources.nextOptions.startDelay = 300ms;
    QSignalSpy finished(&state, &AppState::startFinished);
    state.start();
    state.stop();
    ASSERT_TRUE(finished.wait(kWaitMs));
    EXPECT_FALSE(state.isRunning());
    ASSERT_EQ(sources.made.size(), 1u);
    // The engine was stopped once its start had returned.
    EXPECT_EQ(sources.made[0]->stopCount(), 1);
    QTest::qWait(100);
    EXPECT_EQ(state.history().size(), 0);
}

TEST_F(AppStateTest, SourceChangeDuringASlowStartEndsOnTheNewSourceAndNeverRunsTwo) {
    sources.nextOptions.startDelay = 300ms;
    QSignalSpy finished(&state, &AppState::startFinished);
    state.start();
    state.setInputSource(InputSource::systemAudio);
    ASSERT_TRUE(finished.wait(kWaitMs));
    EXPECT_TRUE(state.isRunning());
    ASSERT_EQ(sources.requested.size(), 2u);
    EXPECT_EQ(sources.requested.back(), InputSource::systemAudio);
    EXPECT_EQ(sources.made[0]->stopCount(), 1);
    EXPECT_EQ(finished.count(), 1);

    // A start while running stops the running source first.
    ASSERT_TRUE(startAndWait(state));
    EXPECT_TRUE(state.isRunning());
    ASSERT_EQ(sources.made.size(), 3u);
    EXPECT_EQ(sources.made[1]->stopCount(), 1);
}

TEST_F(AppStateTest, DestroyingTheStateWhileCapturingOrStartingIsSafe) {
    {
        SourceFactoryLog local;
        auto doomed = std::make_unique<AppState>(local.factory(), microphoneQuery());
        ASSERT_TRUE(startAndWait(*doomed));
        ASSERT_TRUE(waitForSnapshots(*doomed, 2));
        doomed.reset();
        EXPECT_EQ(local.made[0]->stopCount(), 1);
        // Events still queued for the dead state are dropped.
        QTest::qWait(100);
    }
    {
        SourceFactoryLog local;
        local.nextOptions.startDelay = 200ms;
        auto doomed = std::make_unique<AppState>(local.factory(), microphoneQuery());
        doomed->start();
        doomed.reset();
        ASSERT_EQ(local.made.size(), 1u);
        EXPECT_EQ(local.made[0]->startCount(), 1);
        EXPECT_EQ(local.made[0]->stopCount(), 1);
        QTest::qWait(100);
    }
}

TEST_F(AppStateTest, ChoosingAnotherPresetDropsTheOverrideButTheSameOneKeepsIt) {
    state.adjustTarget(+0.5);
    EXPECT_EQ(state.targetOverrideLUFS(), -22.5);
    state.setTarget(LoudnessTarget::ebuR128);
    EXPECT_EQ(state.targetOverrideLUFS(), -22.5);
    state.setProperty("target", QStringLiteral("atsc"));
    EXPECT_EQ(state.target(), LoudnessTarget::atsc);
    EXPECT_FALSE(state.targetOverrideLUFS().has_value());
    EXPECT_EQ(state.effectiveTargetLUFS(), -24.0);
    state.setProperty("target", QStringLiteral("nonsense"));
    EXPECT_EQ(state.target(), LoudnessTarget::atsc);
}

TEST_F(AppStateTest, TargetButtonsMoveByHalfAnLUWithinMinusFortyAndZero) {
    state.setTarget(LoudnessTarget::off);
    EXPECT_FALSE(state.effectiveTargetLUFS().has_value());
    EXPECT_FALSE(state.property("effectiveTargetLUFS").isValid());
    EXPECT_EQ(state.radarRangeLU(), 23.0);
    state.adjustTarget(+0.5);
    EXPECT_EQ(state.targetOverrideLUFS(), -22.5);
    state.setTargetOverrideLUFS(std::nullopt);
    state.adjustTarget(-0.5);
    EXPECT_EQ(state.targetOverrideLUFS(), -23.5);

    state.setTargetOverrideLUFS(-40.0);
    state.adjustTarget(-0.5);
    EXPECT_EQ(state.targetOverrideLUFS(), -40.0);
    state.setTargetOverrideLUFS(-0.2);
    state.adjustTarget(+0.5);
    EXPECT_EQ(state.targetOverrideLUFS(), 0.0);
    state.adjustTarget(+0.5);
    EXPECT_EQ(state.targetOverrideLUFS(), 0.0);
    EXPECT_EQ(state.effectiveTargetLUFS(), 0.0);

    // QML clears the override with undefined and cannot store a non-number.
    state.setProperty("targetOverrideLUFS", QVariant());
    EXPECT_FALSE(state.targetOverrideLUFS().has_value());
    state.setProperty("targetOverrideLUFS", QStringLiteral("loud"));
    EXPECT_FALSE(state.targetOverrideLUFS().has_value());
    state.setProperty("targetOverrideLUFS", -18.0);
    EXPECT_EQ(state.targetOverrideLUFS(), -18.0);
}

TEST_F(AppStateTest, RangeButtonsMoveTheOuterEdgeWithinOneToEightyLU) {
    state.adjustRange(+0.5);
    EXPECT_EQ(state.radarOuterLUFS(), -2.5);
    EXPECT_EQ(state.radarRangeLU(), 20.5);

    state.setRadarOuterLUFS(-22.0);
    EXPECT_EQ(state.radarRangeLU(), 1.0);
    state.adjustRange(-0.5);
    EXPECT_EQ(state.radarRangeLU(), 1.0);
    EXPECT_EQ(state.radarOuterLUFS(), -22.0);

    state.setRadarOuterLUFS(57.0);
    EXPECT_EQ(state.radarRangeLU(), 80.0);
    state.adjustRange(+0.5);
    EXPECT_EQ(state.radarRangeLU(), 80.0);

    // An outer edge below target + 1 still shows a range of 1 LU.
    state.setRadarOuterLUFS(-50.0);
    EXPECT_EQ(state.radarRangeLU(), 1.0);

    // Without a target the range is measured from -23.
    state.setTarget(LoudnessTarget::off);
    EXPECT_EQ(state.radarRangeLU(), 23.0);
    state.adjustRange(-0.5);
    EXPECT_EQ(state.radarOuterLUFS(), -0.5);
}

TEST_F(AppStateTest, DerivedValuesNotifyOnlyWhenTheyChange) {
    QSignalSpy effective(&state, &AppState::effectiveTargetLUFSChanged);
    QSignalSpy range(&state, &AppState::radarRangeLUChanged);
    const struct {
        std::function<void()> change;
        int effective, range;
    } steps[] = {
        {[&] { state.setTarget(LoudnessTarget::atsc); }, 1, 1},  // -23 -> -24, range 20 -> 21
        {[&] { state.setTargetOverrideLUFS(-24.0); }, 1, 1},     // same effective target
        {[&] { state.setTarget(LoudnessTarget::streaming16); }, 2, 2},  // override dropped: -16
        {[&] { state.setRadarOuterLUFS(-30.0); }, 2, 3},  // below target + 1: range 13 -> 1
        {[&] { state.setRadarOuterLUFS(-40.0); }, 2, 3},  // still 1
        {[&] { state.adjustTarget(-0.5); }, 3, 3},        // -16.5: range still 1
    };
    for (const auto& step : steps) {
        step.change();
        EXPECT_EQ(effective.count(), step.effective);
        EXPECT_EQ(range.count(), step.range);
    }
    state.setRadarCycleSeconds(120.0);
    state.setRadarCycleSeconds(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(state.radarCycleSeconds(), 120.0);
}

TEST_F(AppStateTest, HopStatisticsLineComesFirstAtOnceThenAtMostEveryFiveSeconds) {
    testing::internal::CaptureStdout();
    const bool started = startAndWait(state);
    const bool first = started && waitForSnapshots(state, 1);
    // Far more snapshots than 5 s allow while the clock stands nearly still.
    const bool more = first && waitForSnapshots(state, 10);
    std::vector<int> counts = hopStatisticsCounts(testing::internal::GetCapturedStdout());
    ASSERT_TRUE(more);
    // One line for the first snapshot of the run. A snapshot that overtakes the start's outcome
    // on a busy machine prints its own line before the statistics restart, also with a count of 1.
    EXPECT_TRUE(counts == std::vector<int>{1} || counts == (std::vector<int>{1, 1}));

    testing::internal::CaptureStdout();
    clock.advance(5s);
    const bool after = waitForSnapshots(state, 1);
    counts = hopStatisticsCounts(testing::internal::GetCapturedStdout());
    ASSERT_TRUE(after);
    ASSERT_EQ(counts.size(), 1u);
    EXPECT_GE(counts[0], 10);
}

}  // namespace
}  // namespace orvinta
