#include "state/app_state.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <thread>

#include "capture/audio_capture_error.h"
#include "tests/state/state_test_support.h"
#include "tests/support/captured_log.h"
#include "tests/support/fake_source/scripted_capture_source.h"

namespace orvinta {
namespace {

using namespace std::chrono_literals;
using test::startAndWait;

constexpr double kSilence = -std::numeric_limits<double>::infinity();

// A scripted source whose start is slow, as a device's can be; it runs on the engine's queue.
struct SlowSource final : ScriptedCaptureSource {
    SlowSource(const Options& options, std::chrono::milliseconds delay)
        : ScriptedCaptureSource(options), delay(delay) {}
    void start() override {
        std::this_thread::sleep_for(delay);
        ScriptedCaptureSource::start();
    }
    const std::chrono::milliseconds delay;
};

// Hands out sources playing a 1 kHz sine from a 44.1 kHz, 24-bit stereo device in real time,
// at a level that may change while they play, and remembers each with the input it was for.
struct SourceFactoryLog {
    std::vector<InputSource> requested;
    std::vector<std::shared_ptr<SlowSource>> made;
    std::shared_ptr<std::atomic<double>> level = std::make_shared<std::atomic<double>>(-20.0);
    std::chrono::milliseconds startDelay{0};
    ScriptedCaptureSource::Options options = [level = level] {
        ScriptedCaptureSource::Options sine;
        sine.format = {44'100.0, 2, SampleType::signed24Packed, true};
        sine.signal = [level](int, std::int64_t frame) {
            return std::pow(10.0, *level / 20.0) *
                   std::sin(2.0 * std::numbers::pi * 1000.0 * double(frame) / 44'100.0);
        };
        return sine;
    }();

    AppState::SourceFactory factory() {
        return [this](InputSource input) {
            requested.push_back(input);
            made.push_back(std::make_shared<SlowSource>(options, startDelay));
            return made.back();
        };
    }
};

const AudioFormatInfo kMicrophoneFormat{48'000.0, 24, false, 1};
const QString kMicrophoneText = QString::fromStdString(kMicrophoneFormat.displayDescription());
const QString kSystemAudioText = QStringLiteral("48 kHz / 32-bit float / Stereo");

bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 10'000);
}

// Waits until `count` more snapshots have been applied.
bool waitForSnapshots(AppState& state, int count) {
    QSignalSpy history(&state, &AppState::historyChanged);
    return waitFor([&] { return history.count() >= count; });
}

bool near(double value, double expected) {
    return std::abs(value - expected) < 0.2;
}

class AppStateTest : public testing::Test {
protected:
    SourceFactoryLog sources;
    AppState state{sources.factory(), [] { return std::optional(kMicrophoneFormat); }};
};

TEST_F(AppStateTest, MetersTheSineFromAStartThatReturnsAtOnceAndStopKeepsTheReadings) {
    *sources.level = -10.0;
    ASSERT_TRUE(waitFor([&] { return state.inputFormatDescription() == kMicrophoneText; }));
    QSignalSpy finished(&state, &AppState::startFinished);
    state.start();
    // The engine starts on a background thread.
    EXPECT_TRUE(state.isStarting() && !state.isRunning());
    ASSERT_TRUE(finished.wait(10'000));
    EXPECT_TRUE(state.isRunning());

    // A 1 kHz sine at the same level in both channels reads its level in LUFS.
    ASSERT_TRUE(waitFor([&] { return near(state.shortTermLUFS(), -10.0); }));
    EXPECT_TRUE(near(state.momentaryLUFS(), -10.0));
    // The source's own report replaces the device query's text.
    EXPECT_EQ(state.inputFormatDescription(),
              QString::fromStdString(AudioFormatInfo{44'100.0, 24, false, 2}.displayDescription()));

    state.stop();
    EXPECT_TRUE(waitFor([&] { return sources.made[0]->stopCount() == 1; }));
    EXPECT_TRUE(waitFor([&] { return state.inputFormatDescription() == kMicrophoneText; }));
    EXPECT_TRUE(near(state.momentaryLUFS(), -10.0));

    // The next run's maximum and history start afresh: nothing of the louder first run remains,
    // however many of the quieter run's snapshots have arrived already.
    *sources.level = -40.0;
    ASSERT_TRUE(startAndWait(state));
    EXPECT_LT(state.maxMomentaryLUFS(), -35.0);
    const HistoryPointList history = state.history();
    for (const HistoryPoint& point : history.points()) {
        EXPECT_LT(point.momentaryLUFS, -35.0);
    }
}

TEST_F(AppStateTest, FailedStartsShowTheirTextAndTheNextStartClearsIt) {
    const AudioCaptureError denied = AudioCaptureError::permissionDenied();
    const struct {
        std::exception_ptr error;
        QString text;
    } cases[] = {
        {std::make_exception_ptr(denied), QString::fromStdString(denied.errorDescription())},
        {std::make_exception_ptr(std::runtime_error("device on fire")),
         QStringLiteral("device on fire")},
    };
    for (const auto& c : cases) {
        sources.options.startError = c.error;
        testing::internal::CaptureStdout();
        ASSERT_TRUE(startAndWait(state));
        const std::string output = test::capturedLog();
        EXPECT_FALSE(state.isRunning());
        EXPECT_EQ(state.property("errorMessage").toString(), c.text);
        EXPECT_EQ(test::linesContaining(output, c.text.toStdString()).size(), 1u);
    }
    sources.options.startError = nullptr;
    state.start();
    EXPECT_FALSE(state.errorMessage().has_value());

    // A factory that throws fails the start instead of escaping.
    AppState throwing([](InputSource) -> std::shared_ptr<AudioCaptureSource> { throw 42; }, {});
    ASSERT_TRUE(startAndWait(throwing));
    EXPECT_FALSE(throwing.isRunning());
    EXPECT_GT(throwing.errorMessageText().size(), 10);
}

TEST_F(AppStateTest, EngineErrorStopsItsRunButNotTheRunAfterIt) {
    ASSERT_TRUE(startAndWait(state));
    ASSERT_TRUE(waitForSnapshots(state, 2));
    sources.made[0]->reportError(std::make_exception_ptr(std::runtime_error("device gone")));
    ASSERT_TRUE(waitFor([&] { return !state.isRunning(); }));
    EXPECT_EQ(state.errorMessage(), u"device gone");
    EXPECT_TRUE(waitFor([&] { return sources.made[0]->stopCount() == 1; }));

    // The old source fails while a restart is under way: its report must not stop the new run.
    ASSERT_TRUE(startAndWait(state));
    sources.made[1]->reportError(std::make_exception_ptr(std::runtime_error("old device gone")));
    state.stop();
    ASSERT_TRUE(startAndWait(state));
    ASSERT_TRUE(waitForSnapshots(state, 3));
    EXPECT_FALSE(state.errorMessage().has_value());
    EXPECT_EQ(sources.made[2]->stopCount(), 0);
}

TEST_F(AppStateTest, StartWhileStartingOpensNoSecondSourceAndStopCancelsTheStart) {
    sources.startDelay = 300ms;
    state.start();
    state.start();  // a double click on START
    ASSERT_TRUE(waitFor([&] { return state.isRunning(); }));
    ASSERT_EQ(sources.made.size(), 1u);
    EXPECT_EQ(sources.made[0]->stopCount(), 0);

    state.stop();
    QSignalSpy finished(&state, &AppState::startFinished);
    state.start();
    state.toggleRunning();  // the START/STOP button, pressed while the start is pending
    EXPECT_FALSE(state.isStarting() || state.isRunning());
    EXPECT_EQ(finished.count(), 1);
    // The engine stops the source as soon as its start has returned; nothing runs on.
    ASSERT_TRUE(waitFor([&] { return sources.made[1]->stopCount() == 1; }));
    EXPECT_FALSE(sources.made[1]->isDelivering() || state.isRunning());
}

TEST_F(AppStateTest, SourceChangeRestartsARunOrAPendingStartOnTheNewSource) {
    ASSERT_TRUE(startAndWait(state));
    testing::internal::CaptureStdout();
    QSignalSpy finished(&state, &AppState::startFinished);
    state.setInputSource(InputSource::systemAudio);
    EXPECT_EQ(state.inputFormatDescription(), kSystemAudioText);
    EXPECT_TRUE(state.isStarting());
    ASSERT_TRUE(finished.wait(10'000));
    EXPECT_EQ(
        test::linesContaining(test::capturedLog(), "input source change -> System Audio").size(),
        1u);
    EXPECT_TRUE(state.isRunning());
    EXPECT_EQ(sources.requested.back(), InputSource::systemAudio);
    EXPECT_EQ(sources.made[0]->stopCount(), 1);

    // During a slow start the change ends on the new source, never with two running.
    sources.startDelay = 300ms;
    state.setInputSource(InputSource::microphone);
    state.setProperty("inputSource", QStringLiteral("System Audio"));  // not a raw value
    state.setProperty("target", QStringLiteral("ebu"));
    EXPECT_EQ(state.inputSource(), InputSource::microphone);
    EXPECT_EQ(state.target(), LoudnessTarget::ebuR128);
    state.setProperty("inputSource", QStringLiteral("systemAudio"));
    ASSERT_TRUE(waitFor([&] { return state.isRunning(); }));
    ASSERT_EQ(sources.made.size(), 4u);
    EXPECT_EQ(sources.requested.back(), InputSource::systemAudio);
    ASSERT_TRUE(waitFor([&] { return sources.made[2]->stopCount() == 1; }));
    EXPECT_TRUE(sources.made[3]->isDelivering());
}

TEST_F(AppStateTest, ResetDropsTheSnapshotsMeasuredBeforeIt) {
    *sources.level = -10.0;
    ASSERT_TRUE(startAndWait(state));
    ASSERT_TRUE(waitFor([&] { return near(state.integratedLUFS(), -10.0); }));
    sources.level->store(-40.0);
    ASSERT_TRUE(waitFor([&] { return near(state.momentaryLUFS(), -40.0); }));

    // The UI thread is busy while snapshots of the loud run are handed over; then RESET runs.
    ASSERT_TRUE(sources.made[0]->waitForDelivered(sources.made[0]->buffersDelivered() + 10, 5s));
    double loudest = kSilence;
    QObject::connect(&state, &AppState::integratedLUFSChanged, &state,
                     [&] { loudest = std::max(loudest, state.integratedLUFS()); });
    state.reset();
    ASSERT_TRUE(waitForSnapshots(state, 5));
    // Only -40 dB blocks were measured since: -10 LUFS can come only from before the reset.
    EXPECT_LT(loudest, -30.0);
    EXPECT_LT(state.maxMomentaryLUFS(), -30.0);
    EXPECT_EQ(state.history().points().front().id, 1u);
}

TEST_F(AppStateTest, FormatTextShowsOnlyTheNewestAnswer) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> asked{0};
    // A sound server that takes its time, with a different channel count at every answer.
    AppState slow(sources.factory(), [released, &asked] {
        const int answer = ++asked;
        released.wait();
        return std::optional(AudioFormatInfo{48'000.0, 24, false, answer});
    });
    QStringList shown;
    QObject::connect(&slow, &AppState::inputFormatDescriptionChanged, &slow,
                     [&] { shown.append(slow.property("inputFormatDescription").toString()); });
    ASSERT_TRUE(waitFor([&] { return asked == 1; }));
    slow.setInputSource(InputSource::systemAudio);
    release.set_value();
    slow.setInputSource(InputSource::microphone);
    // The first answer, overtaken by system audio, arrives before the second and is dropped.
    ASSERT_TRUE(waitFor([&] { return shown.size() == 3; }));
    EXPECT_EQ(shown, (QStringList{kSystemAudioText, QString(),
                                  QStringLiteral("48 kHz / 24-bit / Stereo")}));
}

TEST_F(AppStateTest, DestroyingTheStateWhileItStartsStopsTheSourceOnceStarted) {
    SourceFactoryLog local;
    local.startDelay = 200ms;
    auto doomed = std::make_unique<AppState>(local.factory(), AppState::InputFormatQuery());
    doomed->start();
    doomed.reset();
    EXPECT_TRUE(waitFor([&] { return local.made[0]->stopCount() == 1; }));
    EXPECT_EQ(local.made[0]->startCount(), 1);
}

}  // namespace
}  // namespace orvinta
