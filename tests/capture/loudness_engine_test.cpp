#include "capture/loudness_engine.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <numbers>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "capture/audio_capture_error.h"
#include "tests/support/fake_source/scripted_capture_source.h"

namespace orvinta {
namespace {

using namespace std::chrono_literals;
using TimePoint = std::chrono::steady_clock::time_point;

// A clock the test moves by hand; read from the delivery thread and the processing queue.
class ManualClock {
public:
    TimePoint now() const { return TimePoint(std::chrono::nanoseconds(ns.load())); }
    void set(TimePoint t) { ns = t.time_since_epoch().count(); }
    void advance(std::chrono::nanoseconds d) { ns += d.count(); }

private:
    std::atomic<std::int64_t> ns{std::chrono::nanoseconds(1000s).count()};
};

// Records what one engine does: every analysed buffer, every keep-alive tick, every snapshot.
// It can also hold the processing queue inside the next analysed buffer, to let work pile up.
class Probe {
public:
    struct Processed {
        bool synthetic;
        std::size_t channels;
        std::size_t frames;
    };
    // What has happened so far, copied out under the lock.
    struct State {
        std::vector<Processed> processed;
        LoudnessSnapshot lastSnapshot;
        std::vector<TimePoint> snapshotTimes;  // one per snapshot
        int ticks = 0;

        std::vector<Processed> buffers(bool synthetic) const {
            std::vector<Processed> result;
            std::copy_if(processed.begin(), processed.end(), std::back_inserter(result),
                         [&](const Processed& p) { return p.synthetic == synthetic; });
            return result;
        }
        std::size_t count(bool synthetic) const { return buffers(synthetic).size(); }
    };

    LoudnessEngine::Instrumentation hooks(const ManualClock* clock) {
        LoudnessEngine::Instrumentation hooks;
        if (clock != nullptr) {
            hooks.clock = [clock] { return clock->now(); };
        }
        hooks.onProcessed = [this](const ChannelBuffers& buffers, bool synthetic) {
            std::unique_lock lock(mutex);
            now.processed.push_back(
                {synthetic, buffers.size(), buffers.empty() ? 0 : buffers.front().size()});
            changed.notify_all();
            if (holdNext) {
                holdNext = false;
                holding = true;
                changed.notify_all();
                changed.wait(lock, [this] { return !holding; });
            }
        };
        hooks.onTick = [this] { update([&] { ++now.ticks; }); };
        return hooks;
    }

    void recordSnapshot(const LoudnessSnapshot& snapshot, TimePoint at) {
        update([&] {
            now.lastSnapshot = snapshot;
            now.snapshotTimes.push_back(at);
        });
    }

    State state() {
        const std::lock_guard lock(mutex);
        return now;
    }

    template <typename Predicate>
    bool waitFor(Predicate predicate, std::chrono::milliseconds timeout = 20s) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return predicate(); });
    }

    // Waits for `count` more ticks; after two, a tick has certainly read the current clock.
    bool waitTicks(int count) {
        const int target = state().ticks + count;
        return waitFor([&] { return now.ticks >= target; });
    }

    // Waits until `n` buffers of the kind have been analysed.
    bool waitForCount(bool synthetic, std::size_t n) {
        return waitFor([&] { return now.count(synthetic) >= n; });
    }

    void holdQueueInNextBuffer() {
        update([&] { holdNext = true; });
    }
    bool waitUntilHolding() {
        return waitFor([this] { return holding; });
    }
    void releaseQueue() {
        update([&] { holding = false; });
    }

private:
    template <typename F>
    void update(F f) {
        const std::lock_guard lock(mutex);
        f();
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    State now;
    bool holdNext = false;
    bool holding = false;
};

// Threads of this process. The first thread a process creates may bring a sanitizer's helper
// thread with it, so a baseline is taken only after one thread has come and gone.
int threadCount() {
    static const bool warmedUp = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)warmedUp;
    int count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(dir)) {
            count += entry->d_name[0] != '.';
        }
        closedir(dir);
    }
    return count;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

// Lets a test wait until an engine has been destroyed, with a happens-before edge from
// everything the engine did to the wait's return (a weak_ptr's expired() gives none).
// Install it right after create(), with onSnapshot already set: it wraps that callback, and
// the wrapper's capture signals when the engine destroys its callbacks.
class DestructionWatch {
public:
    explicit DestructionWatch(LoudnessEngine& engine) {
        auto sentinel = std::make_shared<Sentinel>(flag);
        engine.onSnapshot = [inner = std::move(engine.onSnapshot),
                             sentinel](const LoudnessSnapshot& snapshot) {
            if (inner) {
                inner(snapshot);
            }
        };
    }

    // Drops the caller's reference and waits until the engine is gone: buffer blocks still on
    // its queue keep it alive (and calling its callbacks) until they have run.
    void releaseAndWait(std::shared_ptr<LoudnessEngine>& engine) const {
        engine.reset();
        for (int i = 0; i < 10000 && !flag->load(std::memory_order_acquire); ++i) {
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_TRUE(flag->load(std::memory_order_acquire));
    }

private:
    struct Sentinel {
        explicit Sentinel(std::shared_ptr<std::atomic<bool>> f) : flag(std::move(f)) {}
        ~Sentinel() { flag->store(true, std::memory_order_release); }
        std::shared_ptr<std::atomic<bool>> flag;
    };
    std::shared_ptr<std::atomic<bool>> flag = std::make_shared<std::atomic<bool>>(false);
};

// An engine on a hand-moved clock, driven buffer by buffer by a scripted source at 48 kHz.
class LoudnessEngineTest : public testing::Test {
protected:
    void SetUp() override {
        engine = LoudnessEngine::create(probe.hooks(&clock));
        engine->onSnapshot = [this](const LoudnessSnapshot& snapshot) {
            probe.recordSnapshot(snapshot, clock.now());
        };
        watch = std::make_unique<DestructionWatch>(*engine);
    }

    void TearDown() override {
        if (engine) {
            engine->stop();
            watch->releaseAndWait(engine);
        }
    }

    // Starts a manually paced source of `channels` channels, 480 frames (10 ms) a buffer.
    void startManual(int channels = 2) {
        ScriptedCaptureSource::Options options;
        options.format = PcmFormat{48000.0, channels, SampleType::float32, false};
        options.framesPerBuffer = 480;
        options.pacing = ScriptedCaptureSource::Pacing::manual;
        options.signal = [this](int, std::int64_t frame) {
            return amplitude.load() *
                   std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(frame) / 48000.0);
        };
        source = std::make_shared<ScriptedCaptureSource>(options);
        engine->start(source);
    }

    // Delivers one buffer at the current clock time and waits until it has been analysed.
    void deliverOne() {
        const std::size_t before = probe.state().count(false);
        source->deliver(1);
        ASSERT_TRUE(probe.waitForCount(false, before + 1));
    }

    ManualClock clock;
    Probe probe;
    std::atomic<double> amplitude{0.1};
    std::shared_ptr<LoudnessEngine> engine;
    std::unique_ptr<DestructionWatch> watch;
    std::shared_ptr<ScriptedCaptureSource> source;
};

TEST_F(LoudnessEngineTest, FailingSourceStartReachesTheCallerUnchangedAndLeavesTheEngineIdle) {
    ScriptedCaptureSource::Options options;
    options.startError = std::make_exception_ptr(AudioCaptureError::permissionDenied());
    source = std::make_shared<ScriptedCaptureSource>(options);
    try {
        engine->start(source);
        FAIL() << "start() should have thrown";
    } catch (const AudioCaptureError& error) {
        EXPECT_EQ(error.kind(), AudioCaptureError::Kind::permissionDenied);
    }
    EXPECT_FALSE(engine->isRunning());
    // The source keeps its callbacks; no timer was started.
    EXPECT_TRUE(source->onBuffer);
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(probe.state().ticks, 0);

    // Errors that are not capture errors travel just the same.
    const auto serverError = std::make_exception_ptr(std::runtime_error("Connection refused"));
    source->setStartError(serverError);
    try {
        engine->start(source);
        FAIL() << "start() should have thrown";
    } catch (...) {
        EXPECT_EQ(std::current_exception(), serverError);
    }
    EXPECT_FALSE(engine->isRunning());

    // Stopping the idle engine only logs; the same engine starts normally afterwards.
    source->setStartError(nullptr);
    testing::internal::CaptureStdout();
    engine->stop();
    engine->start(source);
    EXPECT_TRUE(engine->isRunning());
    engine->stop();
    EXPECT_FALSE(engine->isRunning());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[Tessaro] LoudnessEngine stopped\n"
              "[Tessaro] LoudnessEngine started (channelCount=2)\n"
              "[Tessaro] LoudnessEngine stopped\n");
}

TEST_F(LoudnessEngineTest, SourceErrorsArePassedOnUnchangedFromTheSourceThread) {
    std::exception_ptr received;
    std::thread::id receivedOn;
    std::atomic<bool> arrived{false};
    engine->onError = [&](std::exception_ptr error) {
        received = error;
        receivedOn = std::this_thread::get_id();
        arrived = true;
    };
    startManual();
    const auto error = std::make_exception_ptr(AudioCaptureError::noAudioDelivered("gone"));
    source->reportError(error);
    for (int i = 0; i < 2000 && !arrived; ++i) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(arrived);
    EXPECT_EQ(received, error);
    EXPECT_NE(receivedOn, std::this_thread::get_id());
}

TEST_F(LoudnessEngineTest, SnapshotsAreSpacedAtLeast33MsAndDroppedOnesAreNotReplayed) {
    const TimePoint t0 = clock.now();
    startManual();
    // Offsets from the configuration time; only 33 and 66 are far enough from the last one.
    for (int offsetMs : {10, 33, 43, 65, 66}) {
        clock.set(t0 + std::chrono::milliseconds(offsetMs));
        deliverOne();
    }
    ASSERT_TRUE(probe.waitTicks(3));
    const auto times = probe.state().snapshotTimes;
    ASSERT_EQ(times.size(), 2u);
    EXPECT_EQ(times[0], t0 + 33ms);
    EXPECT_EQ(times[1], t0 + 66ms);
    EXPECT_EQ(probe.state().count(true), 0u);
}

TEST_F(LoudnessEngineTest, AStallOfExactly90MsInjectsNothingAnd91MsDoes) {
    const TimePoint t0 = clock.now();
    startManual();
    clock.set(t0 + 10ms);
    deliverOne();

    clock.set(t0 + 100ms);
    ASSERT_TRUE(probe.waitTicks(3));
    EXPECT_EQ(probe.state().count(true), 0u);

    testing::internal::CaptureStdout();
    clock.set(t0 + 101ms);
    ASSERT_TRUE(probe.waitTicks(3));
    auto silence = probe.state().buffers(true);
    ASSERT_EQ(silence.size(), 1u);
    EXPECT_EQ(silence[0].channels, 2u);
    EXPECT_EQ(silence[0].frames, 4368u);  // the whole 91 ms since the last real buffer

    // Later ticks fill only the time since the last injection.
    clock.set(t0 + 151ms);
    ASSERT_TRUE(probe.waitTicks(3));
    silence = probe.state().buffers(true);
    ASSERT_EQ(silence.size(), 2u);
    EXPECT_EQ(silence[1].frames, 2400u);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(occurrences(log,
                          "[Tessaro] LoudnessEngine: no audio buffer received for 91ms - "
                          "injecting silence so Momentary/Short-term track real elapsed time "
                          "instead of freezing on a stale reading\n"),
              1u);
}

TEST_F(LoudnessEngineTest, ALongPauseIsFilledHalfASecondPerTick) {
    const TimePoint t0 = clock.now();
    startManual(1);
    deliverOne();
    clock.set(t0 + 7s);
    ASSERT_TRUE(probe.waitTicks(3));
    auto silence = probe.state().buffers(true);
    ASSERT_EQ(silence.size(), 1u);
    EXPECT_EQ(silence[0].frames, 24000u);
    EXPECT_EQ(silence[0].channels, 1u);  // a mono source gets mono silence
    clock.advance(50ms);
    ASSERT_TRUE(probe.waitTicks(3));
    silence = probe.state().buffers(true);
    ASSERT_EQ(silence.size(), 2u);
    EXPECT_EQ(silence[1].frames, 2400u);
}

TEST_F(LoudnessEngineTest, SilenceKeepsSnapshotsAndThroughputComingAndRealAudioEndsIt) {
    amplitude = std::pow(10.0, -20.0 / 20.0);
    startManual();
    // One second of a -20 dBFS sine on both channels: -20 LUFS.
    for (int i = 0; i < 100; ++i) {
        clock.advance(10ms);
        deliverOne();
    }
    EXPECT_NEAR(probe.state().lastSnapshot.momentaryLUFS, -20.0, 0.1);

    testing::internal::CaptureStdout();
    const std::size_t snapshotsBefore = probe.state().snapshotTimes.size();
    for (int step = 0; step < 25; ++step) {
        clock.advance(100ms);
        ASSERT_TRUE(probe.waitForCount(true, static_cast<std::size_t>(step) + 1));
    }
    // Every 100 ms of silence produced one buffer and one snapshot.
    EXPECT_EQ(probe.state().buffers(true).size(), 25u);
    EXPECT_EQ(probe.state().snapshotTimes.size(), snapshotsBefore + 25);
    const LoudnessSnapshot quiet = probe.state().lastSnapshot;
    EXPECT_TRUE(std::isinf(quiet.momentaryLUFS) || quiet.momentaryLUFS < -70.0)
        << quiet.momentaryLUFS;
    // Half a second of the sine is still in the 3 s window: 10 log10(0.5 / 3) below.
    EXPECT_NEAR(quiet.shortTermLUFS, -20.0 + 10.0 * std::log10(0.5 / 3.0), 0.5);

    clock.advance(5ms);
    deliverOne();
    clock.advance(20ms);
    ASSERT_TRUE(probe.waitTicks(3));
    EXPECT_EQ(probe.state().buffers(true).size(), 25u);
    // Once stalled again, the stall is announced again.
    clock.advance(80ms);
    ASSERT_TRUE(probe.waitTicks(3));
    EXPECT_EQ(probe.state().buffers(true).size(), 26u);

    const std::string log = testing::internal::GetCapturedStdout();
    // Announced once per stall: here two stalls of 100 ms each.
    EXPECT_EQ(occurrences(log, "[Tessaro] LoudnessEngine: no audio buffer received"), 2u);
    EXPECT_EQ(occurrences(log, "[Tessaro] LoudnessEngine: no audio buffer received for 100ms"), 2u);
    EXPECT_EQ(occurrences(log, "[Tessaro] LoudnessEngine: real audio buffers resumed\n"), 1u);
    // The window that began with the first real buffer closed during the silence.
    EXPECT_TRUE(contains(log, "[Tessaro] throughput: ")) << log;
    EXPECT_TRUE(contains(log, "ms (avg ")) << log;
}

TEST_F(LoudnessEngineTest, ResetsRunInOrderWithTheBuffersAroundThem) {
    amplitude = 0.5;  // about -6 dBTP
    startManual();
    for (int i = 0; i < 20; ++i) {
        clock.advance(40ms);
        deliverOne();
    }
    ASSERT_FALSE(probe.state().lastSnapshot.maxTruePeakDBTP.empty());
    EXPECT_NEAR(probe.state().lastSnapshot.maxTruePeakDBTP[0], -6.0, 0.2);

    amplitude = 0.01;  // -40 dBFS
    // Queue quiet buffers behind a reset while the queue is held, so the reset has to wait its
    // turn between them.
    probe.holdQueueInNextBuffer();
    clock.advance(40ms);
    source->deliver(1);
    ASSERT_TRUE(probe.waitUntilHolding());
    engine->resetLoudnessStatistics();
    engine->resetPhaseAndSpectrum();
    probe.releaseQueue();
    for (int i = 0; i < 5; ++i) {
        clock.advance(40ms);
        deliverOne();
    }
    ASSERT_FALSE(probe.state().lastSnapshot.maxTruePeakDBTP.empty());
    EXPECT_NEAR(probe.state().lastSnapshot.maxTruePeakDBTP[0], -40.0, 0.5);
}

TEST_F(LoudnessEngineTest, BuffersQueuedBeforeStopAreAnalysedAndNothingAfter) {
    startManual();
    probe.holdQueueInNextBuffer();
    clock.advance(40ms);
    source->deliver(1);
    ASSERT_TRUE(probe.waitUntilHolding());
    clock.advance(40ms);
    source->deliver(4);
    ASSERT_TRUE(source->waitForDelivered(5, 20s));

    engine->stop();
    EXPECT_FALSE(engine->isRunning());
    EXPECT_FALSE(source->isDelivering());
    EXPECT_FALSE(source->onBuffer);
    EXPECT_FALSE(source->onError);
    probe.releaseQueue();
    ASSERT_TRUE(probe.waitForCount(false, 5));

    // The timer is gone with the analyzer: a long "stall" injects nothing and no tick runs.
    const int ticks = probe.state().ticks;
    clock.advance(10s);
    source->deliver(3);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(probe.state().ticks, ticks);
    EXPECT_EQ(probe.state().processed.size(), 5u);
    EXPECT_EQ(source->buffersDelivered(), 5u);
}

TEST(LoudnessEngine, ManyStartStopCyclesLeaveNoThreadOrEngineBehind) {
    const int baseline = threadCount();
    std::weak_ptr<LoudnessEngine> weakEngine;
    std::weak_ptr<ScriptedCaptureSource> weakSource;
    std::atomic<int> snapshots{0};
    {
        auto engine = LoudnessEngine::create();
        weakEngine = engine;
        engine->onSnapshot = [&](const LoudnessSnapshot&) { ++snapshots; };
        ScriptedCaptureSource::Options options;
        options.format = PcmFormat{44100.0, 2, SampleType::signed16, true};
        options.framesPerBuffer = 441;
        options.signal = ScriptedCaptureSource::sine(1000.0, -20.0, 44100.0);
        const int withEngine = threadCount();
        EXPECT_EQ(withEngine, baseline + 1);
        for (int cycle = 0; cycle < 25; ++cycle) {
            auto source = std::make_shared<ScriptedCaptureSource>(options);
            weakSource = source;
            engine->start(source);
            ASSERT_TRUE(source->waitForDelivered(3, 20s));
            engine->stop();
            EXPECT_EQ(threadCount(), withEngine);
        }
        EXPECT_TRUE(weakSource.expired());
    }
    // A buffer block still on the queue keeps the engine until it has run; then it goes.
    for (int i = 0; i < 5000 && (!weakEngine.expired() || threadCount() > baseline); ++i) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(weakEngine.expired());
    EXPECT_EQ(threadCount(), baseline);
}

TEST(LoudnessEngine, ReleasingTheEngineWhileBuffersAreQueuedEndsItsThreadCleanly) {
    const int baseline = threadCount();
    Probe probe;
    auto engine = LoudnessEngine::create(probe.hooks(nullptr));
    const DestructionWatch watch(*engine);
    std::weak_ptr<LoudnessEngine> weak = engine;
    ScriptedCaptureSource::Options options;
    options.pacing = ScriptedCaptureSource::Pacing::manual;
    options.framesPerBuffer = 480;
    auto source = std::make_shared<ScriptedCaptureSource>(options);
    engine->start(source);
    probe.holdQueueInNextBuffer();
    source->deliver(3);
    ASSERT_TRUE(probe.waitUntilHolding());
    ASSERT_TRUE(source->waitForDelivered(3, 20s));
    engine->stop();
    // The queued buffers now hold the last references: the engine dies on its own queue.
    EXPECT_GT(engine.use_count(), 1);
    std::thread release([&] {
        std::this_thread::sleep_for(50ms);
        probe.releaseQueue();
    });
    watch.releaseAndWait(engine);
    release.join();
    EXPECT_TRUE(weak.expired());
    // The detached queue thread ends right after.
    for (int i = 0; i < 5000 && threadCount() > baseline; ++i) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(threadCount(), baseline);
}

// Ten seconds of real time on the real clock: a 44.1 kHz stereo source delivering 1024-frame
// blocks, printing the figures and the engine's own log; run on demand with
// --gtest_also_run_disabled_tests --gtest_filter='*TenSeconds*'.
TEST(LoudnessEngine, DISABLED_TenSecondsRealTimeReport) {
    ScriptedCaptureSource::Options options;
    options.format = PcmFormat{44100.0, 2, SampleType::float32, true};
    options.framesPerBuffer = 1024;
    options.signal = ScriptedCaptureSource::sine(1000.0, -23.0, 44100.0);
    auto source = std::make_shared<ScriptedCaptureSource>(options);

    auto engine = LoudnessEngine::create();
    std::mutex mutex;
    std::vector<double> momentary;
    std::vector<TimePoint> times;
    engine->onSnapshot = [&](const LoudnessSnapshot& snapshot) {
        const std::lock_guard lock(mutex);
        momentary.push_back(snapshot.momentaryLUFS);
        times.push_back(std::chrono::steady_clock::now());
    };
    const DestructionWatch watch(*engine);
    testing::internal::CaptureStdout();
    const auto begin = std::chrono::steady_clock::now();
    engine->start(source);
    std::this_thread::sleep_for(10s);
    engine->stop();
    watch.releaseAndWait(engine);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const std::string log = testing::internal::GetCapturedStdout();

    const std::lock_guard lock(mutex);
    const double perSecond = static_cast<double>(momentary.size()) / seconds;
    // The throttle caps the rate at 1000 / 33 per second.
    EXPECT_LE(static_cast<double>(momentary.size()), seconds * 1000.0 / 33.0 + 1.0);
    EXPECT_GE(perSecond, 10.0);
    // After the first second every reading should be the sine's -23 LUFS; allow a few readings
    // disturbed by a scheduling hiccup on a loaded machine.
    std::size_t settled = 0;
    std::size_t onTarget = 0;
    for (std::size_t i = 0; i < momentary.size(); ++i) {
        if (times[i] - begin > 1s) {
            ++settled;
            onTarget += std::fabs(momentary[i] - -23.0) <= 0.1;
        }
    }
    ASSERT_GT(settled, 0u);
    EXPECT_GE(static_cast<double>(onTarget), 0.8 * static_cast<double>(settled));
    EXPECT_NEAR(momentary.back(), -23.0, 0.1);
    EXPECT_GE(occurrences(log, "[Tessaro] throughput: "), 1u);
    std::printf(
        "snapshots: %zu in %.2f s = %.1f per second; %zu of %zu settled readings "
        "within -23.0 +- 0.1 LUFS; last momentary %.3f LUFS\n%s",
        momentary.size(), seconds, perSecond, onTarget, settled, momentary.back(), log.c_str());
}

}  // namespace
}  // namespace orvinta
