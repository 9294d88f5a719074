#include "capture/loudness_engine.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <numbers>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "capture/audio_capture_error.h"
#include "capture/console_log.h"
#include "tests/support/fake_source/scripted_capture_source.h"

namespace orvinta {
namespace {

using namespace std::chrono_literals;

// Records what one engine does (every analysed buffer, tick and published snapshot) and can
// hold the processing queue inside the next analysed buffer, to let work pile up behind it.
class Probe {
public:
    struct Processed {
        bool synthetic;
        std::size_t channels;
        std::size_t frames;
    };
    struct State {
        std::vector<Processed> processed;
        std::vector<LoudnessSnapshot> snapshots;
        std::vector<ManualClock::TimePoint> snapshotTimes;
        int ticks = 0;
        int clockFailures = 0;

        std::size_t count(bool synthetic) const {
            return static_cast<std::size_t>(
                std::count_if(processed.begin(), processed.end(),
                              [&](const Processed& p) { return p.synthetic == synthetic; }));
        }
        std::size_t syntheticFrames() const {
            std::size_t frames = 0;
            for (const auto& p : processed) {
                frames += p.synthetic ? p.frames : 0;
            }
            return frames;
        }
    };

    // Hooks on `clock`; the next clock read throws once failClockOnce() was called.
    LoudnessEngine::Instrumentation hooks(const ManualClock& clock) {
        LoudnessEngine::Instrumentation hooks;
        hooks.clock = [this, &clock] {
            if (failClock.exchange(false)) {
                update([&] { ++now.clockFailures; });
                throw std::runtime_error("clock failed");
            }
            return clock.now();
        };
        hooks.onProcessed = [this](const ChannelBuffers& buffers, bool synthetic) {
            std::unique_lock lock(mutex);
            now.processed.push_back(
                {synthetic, buffers.size(), buffers.empty() ? 0 : buffers.front().size()});
            holding = std::exchange(holdNext, false);
            changed.notify_all();
            changed.wait(lock, [this] { return !holding; });
        };
        hooks.onTick = [this] { update([&] { ++now.ticks; }); };
        return hooks;
    }
    void record(const LoudnessSnapshot& snapshot, ManualClock::TimePoint at) {
        update([&] {
            now.snapshots.push_back(snapshot);
            now.snapshotTimes.push_back(at);
        });
    }
    State state() {
        const std::lock_guard lock(mutex);
        return now;
    }
    template <typename Predicate>
    bool waitFor(Predicate predicate) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 20s, [&] { return predicate(now); });
    }
    // After two more ticks, a tick has certainly read the clock as it is now.
    bool waitTicks(int count = 2) {
        const int target = state().ticks + count;
        return waitFor([&](const State& s) { return s.ticks >= target; });
    }
    void failClockOnce() { failClock = true; }
    void holdQueueInNextBuffer() {
        update([&] { holdNext = true; });
    }
    bool waitUntilHolding() {
        return waitFor([this](const State&) { return holding; });
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
    std::atomic<bool> failClock{false};
};

// Threads of this process. A first thread brings a sanitizer's helper with it, so one comes and
// goes before the first count; the log's writer thread starts with the first line and stays.
int threadCount() {
    static const bool warmedUp = [] {
        std::thread([] {}).join();
        flushLogLines(0ms);
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

template <typename Predicate>
bool pollUntil(Predicate predicate) {
    for (int i = 0; i < 10000 && !predicate(); ++i) {
        std::this_thread::sleep_for(1ms);
    }
    return predicate();
}

// A flag that flips when `engine` destroys its onSnapshot, which gives a wait for the engine's
// end a happens-before edge. Install it before the engine runs: it wraps onSnapshot.
std::shared_ptr<std::atomic<bool>> watchDestruction(LoudnessEngine& engine) {
    auto gone = std::make_shared<std::atomic<bool>>(false);
    struct Sentinel {
        explicit Sentinel(std::shared_ptr<std::atomic<bool>> f) : flag(std::move(f)) {}
        std::shared_ptr<std::atomic<bool>> flag;
        ~Sentinel() { flag->store(true, std::memory_order_release); }
    };
    engine.onSnapshot = [inner = std::move(engine.onSnapshot),
                         sentinel = std::make_shared<Sentinel>(gone)](const LoudnessSnapshot& s) {
        if (inner) {
            inner(s);
        }
    };
    return gone;
}

// Drops the last reference to an engine and waits until it is gone: blocks still on its queue
// keep it alive, and calling onSnapshot, until they have run.
void releaseAndWait(std::shared_ptr<LoudnessEngine>& engine,
                    const std::shared_ptr<std::atomic<bool>>& gone,
                    const std::function<void()>& afterDrop = {}) {
    engine.reset();
    if (afterDrop) {
        afterDrop();
    }
    ASSERT_TRUE(pollUntil([&] { return gone->load(std::memory_order_acquire); }));
}

// An engine on a hand-moved clock, fed buffer by buffer by a scripted 48 kHz source.
class LoudnessEngineTest : public testing::Test {
protected:
    void SetUp() override {
        engine = LoudnessEngine::create(probe.hooks(clock));
        engine->onSnapshot = [this](const LoudnessSnapshot& snapshot) {
            probe.record(snapshot, clock.now());
        };
        gone = watchDestruction(*engine);
    }
    void TearDown() override {
        engine->stop();
        releaseAndWait(engine, gone);
    }

    // A manually paced source of `channels` channels playing `signal` (1 kHz at `amplitude`
    // when empty).
    std::shared_ptr<ScriptedCaptureSource> makeSource(int channels, std::size_t frames,
                                                      ScriptedCaptureSource::Signal signal = {}) {
        ScriptedCaptureSource::Options options;
        options.format = PcmFormat{48000.0, channels, SampleType::float32, false};
        options.framesPerBuffer = frames;
        options.pacing = ScriptedCaptureSource::Pacing::manual;
        options.signal = signal ? std::move(signal) : [this](int, std::int64_t frame) {
            return amplitude.load() *
                   std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(frame) / 48000.0);
        };
        return std::make_shared<ScriptedCaptureSource>(options);
    }
    void startManual(int channels = 2, std::size_t frames = 480) {
        source = makeSource(channels, frames);
        engine->start(source);
    }
    // Delivers `n` buffers and waits until the engine has analysed them.
    void deliver(std::size_t n = 1) {
        const std::size_t target = probe.state().count(false) + n;
        source->deliver(n);
        ASSERT_TRUE(probe.waitFor([&](const Probe::State& s) { return s.count(false) >= target; }));
    }

    ManualClock clock;
    Probe probe;
    std::atomic<double> amplitude{0.1};
    std::shared_ptr<LoudnessEngine> engine;
    std::shared_ptr<std::atomic<bool>> gone;
    std::shared_ptr<ScriptedCaptureSource> source;
};

TEST_F(LoudnessEngineTest, ErrorsReachTheirReceiversAndFailedStartsLeaveTheEngineIdle) {
    // The source's own error reaches the caller unchanged, whatever its type.
    for (const auto& error : {std::make_exception_ptr(AudioCaptureError::permissionDenied()),
                              std::make_exception_ptr(std::runtime_error("Connection refused"))}) {
        ScriptedCaptureSource::Options options;
        options.startError = error;
        source = std::make_shared<ScriptedCaptureSource>(options);
        try {
            engine->start(source);
            ADD_FAILURE() << "start() should have thrown";
        } catch (...) {
            EXPECT_EQ(std::current_exception(), error);
        }
        EXPECT_FALSE(engine->isRunning());
    }

    // Setting up the analyzer fails on the queue: start() returns with a message for the user
    // and leaves the source stopped, instead of waiting forever.
    probe.failClockOnce();
    source = makeSource(2, 480);
    try {
        engine->start(source);
        ADD_FAILURE() << "start() should have thrown";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("clock failed"), std::string::npos);
    }
    EXPECT_FALSE(engine->isRunning());
    EXPECT_EQ(source->stopCount(), 1);
    EXPECT_FALSE(source->onBuffer);

    // The next start works, and the source's later errors are passed on unchanged.
    std::atomic<bool> arrived{false};
    std::exception_ptr received;
    engine->onError = [&](std::exception_ptr error) {
        received = std::move(error);
        arrived = true;
    };
    startManual();
    EXPECT_TRUE(engine->isRunning());
    deliver(3);
    const auto error = std::make_exception_ptr(AudioCaptureError::noAudioDelivered("gone"));
    source->reportError(error);
    ASSERT_TRUE(pollUntil([&] { return arrived.load(); }));
    EXPECT_EQ(received, error);
}

TEST_F(LoudnessEngineTest, SnapshotsAreSpacedAtLeast33MsAndDroppedOnesAreNotReplayed) {
    const auto t0 = clock.now();
    startManual();
    // Offsets from the configuration; only 33 and 66 are far enough from the one before.
    for (const auto at : {10ms, 33ms, 43ms, 65ms, 66ms}) {
        clock.advance(t0 + at - clock.now());
        deliver();
    }
    ASSERT_TRUE(probe.waitTicks());
    EXPECT_EQ(probe.state().snapshotTimes,
              (std::vector<ManualClock::TimePoint>{t0 + 33ms, t0 + 66ms}));
}

TEST_F(LoudnessEngineTest, AThreeMillisecondBurstReachesAPublishedSnapshotAtEveryThrottlePhase) {
    // 20 ms blocks of a -40 dBFS sine; one holds a 3 ms burst at -6 dBFS. The throttle
    // publishes about every other block; where it falls depends on the first block's time.
    for (const auto firstBlockAt : {20ms, 27ms, 34ms}) {
        for (const int burstBlock : {4, 5}) {
            SCOPED_TRACE(std::to_string(firstBlockAt.count()) + " ms, block " +
                         std::to_string(burstBlock));
            const std::int64_t burstStart = burstBlock * 960 + 300;
            source = makeSource(1, 960, [burstStart](int, std::int64_t frame) {
                const bool burst = frame >= burstStart && frame < burstStart + 144;
                return (burst ? 0.5 : 0.01) * std::sin(0.3 * static_cast<double>(frame));
            });
            engine->start(source);
            const std::size_t before = probe.state().snapshots.size();
            clock.advance(firstBlockAt - 20ms);
            for (int block = 0; block < 10; ++block) {
                clock.advance(20ms);
                deliver();
            }
            engine->stop();
            const auto snapshots = probe.state().snapshots;
            double loudest = -std::numeric_limits<double>::infinity();
            for (std::size_t i = before; i < snapshots.size(); ++i) {
                loudest = std::max(loudest, snapshots[i].truePeakDBTP.at(0));
            }
            EXPECT_NEAR(loudest, -6.0, 0.5);
            // Folded only since the previous published snapshot: the burst is gone again.
            EXPECT_LT(snapshots.back().truePeakDBTP.at(0), -30.0);
        }
    }
}

TEST_F(LoudnessEngineTest, StallsOverNinetyMillisecondsAreFilledWithSilenceInShortBlocks) {
    startManual(1);
    clock.advance(10ms);
    deliver();

    clock.advance(90ms);
    ASSERT_TRUE(probe.waitTicks());
    EXPECT_EQ(probe.state().count(true), 0u);

    // 91 ms: the whole time since the last real buffer, in mono, in blocks of 20 ms at most.
    clock.advance(1ms);
    ASSERT_TRUE(probe.waitFor([](const Probe::State& s) { return s.syntheticFrames() >= 4368; }));
    ASSERT_TRUE(probe.waitTicks());
    EXPECT_EQ(probe.state().syntheticFrames(), 4368u);
    // Later ticks fill the time since the last injection; a long pause only half a second.
    clock.advance(50ms);
    ASSERT_TRUE(probe.waitFor([](const Probe::State& s) { return s.syntheticFrames() >= 6768; }));
    clock.advance(7s);
    ASSERT_TRUE(probe.waitFor([](const Probe::State& s) { return s.syntheticFrames() >= 30768; }));
    ASSERT_TRUE(probe.waitTicks());
    EXPECT_EQ(probe.state().syntheticFrames(), 30768u);
    for (const auto& buffer : probe.state().processed) {
        EXPECT_EQ(buffer.channels, 1u);
        EXPECT_LE(buffer.frames, 960u);
    }

    // A real buffer ends the stall; a tick that throws does not end the timer.
    deliver();
    probe.failClockOnce();
    ASSERT_TRUE(probe.waitFor([](const Probe::State& s) { return s.clockFailures == 1; }));
    const std::size_t filled = probe.state().syntheticFrames();
    clock.advance(100ms);
    ASSERT_TRUE(probe.waitFor([&](const Probe::State& s) { return s.syntheticFrames() > filled; }));
}

TEST_F(LoudnessEngineTest, ResetsRunInOrderWithTheBuffersAroundThem) {
    amplitude = 0.5;  // about -6 dBTP
    startManual();
    for (int i = 0; i < 20; ++i) {
        clock.advance(40ms);
        deliver();
    }
    EXPECT_NEAR(probe.state().snapshots.back().maxTruePeakDBTP.at(0), -6.0, 0.2);

    // Quiet buffers queue up behind a held one, and the resets between them.
    amplitude = 0.01;
    probe.holdQueueInNextBuffer();
    clock.advance(40ms);
    source->deliver(1);
    ASSERT_TRUE(probe.waitUntilHolding());
    engine->resetLoudnessStatistics();
    engine->resetPhaseAndSpectrum();
    probe.releaseQueue();
    for (int i = 0; i < 5; ++i) {
        clock.advance(40ms);
        deliver();
    }
    EXPECT_NEAR(probe.state().snapshots.back().maxTruePeakDBTP.at(0), -40.0, 0.5);
}

TEST_F(LoudnessEngineTest, AStalledQueueHoldsAtMostTwoSecondsOfAudioAndStopLetsItDrain) {
    startManual(2, 4800);
    probe.holdQueueInNextBuffer();
    source->deliver(1);
    ASSERT_TRUE(probe.waitUntilHolding());
    source->deliver(30);  // three seconds behind the held buffer
    ASSERT_TRUE(source->waitForDelivered(31, 20s));
    // What was queued before stop() is still analysed; the next start waits for the queue.
    engine->stop();
    EXPECT_FALSE(engine->isRunning());
    EXPECT_FALSE(source->onBuffer);
    probe.releaseQueue();
    startManual(2, 4800);
    EXPECT_EQ(probe.state().count(false), 1u + 20u);
    deliver();  // the backlog is gone, so the intake takes buffers again
}

TEST(LoudnessEngine, StartStopCyclesAndReleaseWithQueuedBuffersLeaveNoThreadBehind) {
    const int baseline = threadCount();
    ManualClock clock;
    Probe probe;
    auto engine = LoudnessEngine::create(probe.hooks(clock));
    const auto gone = watchDestruction(*engine);
    ScriptedCaptureSource::Options options;  // real-time pacing
    std::weak_ptr<ScriptedCaptureSource> weakSource;
    for (int cycle = 0; cycle < 20; ++cycle) {
        auto source = std::make_shared<ScriptedCaptureSource>(options);
        weakSource = source;
        engine->start(source);
        ASSERT_TRUE(source->waitForDelivered(2, 20s));
        engine->stop();
        EXPECT_EQ(threadCount(), baseline + 1);
    }
    EXPECT_TRUE(weakSource.expired());

    // Queued buffers hold the last references: the engine ends on its own queue.
    options.pacing = ScriptedCaptureSource::Pacing::manual;
    auto source = std::make_shared<ScriptedCaptureSource>(options);
    engine->start(source);
    probe.holdQueueInNextBuffer();
    source->deliver(3);
    ASSERT_TRUE(probe.waitUntilHolding());
    ASSERT_TRUE(source->waitForDelivered(3, 20s));
    engine->stop();
    EXPECT_GT(engine.use_count(), 1);
    releaseAndWait(engine, gone, [&] { probe.releaseQueue(); });
    EXPECT_TRUE(pollUntil([&] { return threadCount() == baseline; }));
}

}  // namespace
}  // namespace orvinta
