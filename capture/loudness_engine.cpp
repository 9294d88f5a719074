#include "capture/loudness_engine.h"

#include <algorithm>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "capture/engine_timing.h"
#include "measurement/console_log.h"
#include "measurement/loudness_analyzer.h"

namespace orvinta {

namespace timing = engine_timing;
using timing::TimePoint;

namespace {

constexpr std::chrono::milliseconds keepAliveTick{timing::keepAliveTickMs};

// The serial processing queue: one io_context run by one thread. The thread holds its own
// reference, so the io_context outlives the engine when the engine's last reference is dropped
// by a block running on the queue itself.
struct ProcessingQueue {
    asio::io_context io{1};
    asio::executor_work_guard<asio::io_context::executor_type> workGuard{io.get_executor()};

    static void run(const std::shared_ptr<ProcessingQueue>& queue) {
        for (;;) {
            try {
                queue->io.run();
                return;
            } catch (const std::exception& e) {
                // An owner's callback threw; keep the queue alive for the next block.
                printLogLine(std::string("[Tessaro] LoudnessEngine: a processing block failed: ") +
                             e.what());
            } catch (...) {
                printLogLine("[Tessaro] LoudnessEngine: a processing block failed");
            }
        }
    }
};

// The analyzer's stage timing, one line every 2 s.
void printStageBreakdown(const LoudnessAnalyzer::StageBreakdown& t) {
    char line[512];
    std::snprintf(line, sizeof line,
                  "[Tessaro] stage breakdown (ms, avg/max per process() call): "
                  "truePeak=%.2f/%.2f kWeight=%.2f/%.2f ringWrite=%.2f/%.2f "
                  "hopEval[only calls where a hop fired, %lld/%lld]=%.2f/%.2f",
                  t.avgTruePeakMs, t.maxTruePeakMs, t.avgKWeightMs, t.maxKWeightMs,
                  t.avgRingWriteMs, t.maxRingWriteMs, static_cast<long long>(t.hopEvalCallCount),
                  static_cast<long long>(t.callCount), t.avgHopEvalMs, t.maxHopEvalMs);
    printLogLine(line);
}

}  // namespace

struct LoudnessEngine::Impl {
    Impl(LoudnessEngine& engine, Instrumentation instrumentation);

    LoudnessEngine& engine;
    std::weak_ptr<LoudnessEngine> weakEngine;  // set by create(), read-only afterwards
    const Instrumentation instrumentation;

    // Declared before the timer: the timer must go first.
    std::shared_ptr<ProcessingQueue> queue = std::make_shared<ProcessingQueue>();
    std::thread queueThread;

    // The owner's side: start() (on a background thread) and stop() write these; the owner never
    // runs the two at once and hands over between its threads through its own task machinery.
    // isRunning is atomic because the UI may read it while a start is under way.
    std::shared_ptr<AudioCaptureSource> source;
    std::atomic<bool> isRunning{false};
    bool hasKeepAliveTimer = false;
    // Written by start() and the resets on the owner's threads, read by the owner's readers of
    // generation(); only the count matters, the snapshots get their copy through the queue.
    std::atomic<std::uint64_t> requestedGeneration{0};

    // Everything below belongs to the processing queue after construction.
    std::unique_ptr<LoudnessAnalyzer> analyzer;
    TimePoint lastEmitTime;
    TimePoint lastThroughputLogTime;
    timing::ThroughputWindow window;
    std::int64_t sourceChannelCount = 2;
    std::uint64_t snapshotGeneration = 0;
    TimePoint lastRealBufferAt;
    TimePoint lastAdvanceAt;
    bool isInjectingSilence = false;
    asio::steady_timer keepAliveTimer{queue->io};
    // Bumped whenever the timer is (re)started or cancelled, so a firing that was already on
    // its way when that happened does nothing.
    std::uint64_t timerGeneration = 0;
    // Zeros reused for every tick of synthetic silence; never written but by resize().
    ChannelBuffers silence;

    TimePoint now() const { return instrumentation.clock(); }
    bool onQueueThread() const { return std::this_thread::get_id() == queueThread.get_id(); }

    template <typename Block>
    void post(Block&& block) {
        asio::post(queue->io, std::forward<Block>(block));
    }

    void configure(int channelCount, const std::vector<ChannelPosition>& positions,
                   std::uint64_t generation);
    void realBuffer(TimePoint enqueuedAt, const ChannelBuffers& buffers);
    void process(const ChannelBuffers& buffers, bool synthetic);
    void startKeepAliveTimer();
    void cancelKeepAliveTimer();
    void waitForNextTick(std::uint64_t generation);
    void tick();
};

LoudnessEngine::Impl::Impl(LoudnessEngine& owner, Instrumentation hooks)
    : engine(owner), instrumentation([&hooks] {
          if (!hooks.clock) {
              hooks.clock = [] { return std::chrono::steady_clock::now(); };
          }
          return std::move(hooks);
      }()) {
    const TimePoint constructed = now();
    lastEmitTime = constructed;
    lastThroughputLogTime = constructed;
    lastRealBufferAt = constructed;
    lastAdvanceAt = constructed;
    queueThread = std::thread([q = queue] { ProcessingQueue::run(q); });
}

void LoudnessEngine::Impl::configure(int channelCount,
                                     const std::vector<ChannelPosition>& positions,
                                     std::uint64_t generation) {
    analyzer.reset();
    snapshotGeneration = generation;
    // A channel map that matches the delivered channels weights each channel by its place.
    analyzer = positions.size() == static_cast<std::size_t>(channelCount)
                   ? std::make_unique<LoudnessAnalyzer>(std::span(positions))
                   : std::make_unique<LoudnessAnalyzer>(channelCount);
    analyzer->onStageBreakdown = printStageBreakdown;
    sourceChannelCount = channelCount;
    const TimePoint t = now();
    lastEmitTime = t;
    lastThroughputLogTime = t;
    window = {};
    lastRealBufferAt = t;
    lastAdvanceAt = t;
    isInjectingSilence = false;
}

void LoudnessEngine::Impl::realBuffer(TimePoint enqueuedAt, const ChannelBuffers& buffers) {
    // Without an analyzer (before a start, or after stop() released it) a buffer leaves no
    // trace: no counters, no log line.
    if (!analyzer) {
        return;
    }
    const TimePoint t = now();
    lastRealBufferAt = t;
    lastAdvanceAt = t;
    if (isInjectingSilence) {
        isInjectingSilence = false;
        printLogLine("[Tessaro] LoudnessEngine: real audio buffers resumed");
    }
    const double queueDelayMs = timing::millisecondsBetween(enqueuedAt, t);
    window.maxQueueDelayMs = std::max(window.maxQueueDelayMs, queueDelayMs);
    window.sumQueueDelayMs += queueDelayMs;
    process(buffers, false);
}

void LoudnessEngine::Impl::process(const ChannelBuffers& buffers, bool synthetic) {
    if (!analyzer) {
        return;
    }
    const TimePoint t0 = now();
    const LoudnessSnapshot& snapshot = analyzer->process(buffers);
    const TimePoint t1 = now();
    const double processMs = timing::millisecondsBetween(t0, t1);
    window.maxProcessMs = std::max(window.maxProcessMs, processMs);
    window.sumProcessMs += processMs;
    window.buffers += 1;
    window.frames += buffers.empty() ? 0 : static_cast<std::int64_t>(buffers.front().size());

    // One time for both decisions; the throughput line comes first.
    const TimePoint t = now();
    if (timing::throughputLineDue(t, lastThroughputLogTime)) {
        printLogLine(
            timing::throughputLine(window, timing::millisecondsBetween(lastThroughputLogTime, t)));
        window = {};
        lastThroughputLogTime = t;
    }
    // A snapshot too soon after the last one is dropped, never held back for later.
    if (timing::mayEmit(t, lastEmitTime)) {
        lastEmitTime = t;
        if (engine.onSnapshot) {
            // Only a snapshot that goes out is copied, and the copy carries the generation.
            LoudnessSnapshot published = snapshot;
            published.generation = snapshotGeneration;
            engine.onSnapshot(published);
        }
    }
    if (instrumentation.onProcessed) {
        instrumentation.onProcessed(buffers, synthetic);
    }
}

void LoudnessEngine::Impl::startKeepAliveTimer() {
    cancelKeepAliveTimer();
    keepAliveTimer.expires_after(keepAliveTick);
    waitForNextTick(timerGeneration);
}

void LoudnessEngine::Impl::cancelKeepAliveTimer() {
    ++timerGeneration;
    keepAliveTimer.cancel();
}

void LoudnessEngine::Impl::waitForNextTick(std::uint64_t generation) {
    keepAliveTimer.async_wait([weak = weakEngine, generation](const asio::error_code& error) {
        if (error) {
            return;
        }
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        Impl& d = *self->impl_;
        if (generation != d.timerGeneration) {
            return;
        }
        d.tick();
        if (d.instrumentation.onTick) {
            d.instrumentation.onTick();
        }
        // The next deadline follows from the previous one, so the ticks do not drift. Firings
        // missed while the queue was busy are skipped rather than run in a burst.
        auto next = d.keepAliveTimer.expiry() + keepAliveTick;
        const auto realNow = std::chrono::steady_clock::now();
        if (next <= realNow) {
            next += ((realNow - next) / keepAliveTick + 1) * keepAliveTick;
        }
        d.keepAliveTimer.expires_at(next);
        d.waitForNextTick(generation);
    });
}

void LoudnessEngine::Impl::tick() {
    if (!analyzer) {
        return;
    }
    const TimePoint t = now();
    const double stallMs = timing::millisecondsBetween(lastRealBufferAt, t);
    if (!timing::isStalled(stallMs)) {
        return;
    }
    if (!isInjectingSilence) {
        isInjectingSilence = true;
        printLogLine("[Tessaro] LoudnessEngine: no audio buffer received for " +
                     std::to_string(static_cast<std::int64_t>(stallMs)) +
                     "ms - injecting silence so Momentary/Short-term track real elapsed time "
                     "instead of freezing on a stale reading");
    }
    const double gapMs = timing::millisecondsBetween(lastAdvanceAt, t);
    lastAdvanceAt = t;
    const std::int64_t frames = timing::silenceFrameCount(gapMs);
    if (frames == 0) {
        return;
    }
    silence.resize(static_cast<std::size_t>(std::max<std::int64_t>(sourceChannelCount, 1)));
    for (auto& channel : silence) {
        channel.resize(static_cast<std::size_t>(frames));
    }
    process(silence, true);
}

std::shared_ptr<LoudnessEngine> LoudnessEngine::create() {
    return create(Instrumentation{});
}

std::shared_ptr<LoudnessEngine> LoudnessEngine::create(Instrumentation instrumentation) {
    std::shared_ptr<LoudnessEngine> engine(new LoudnessEngine(std::move(instrumentation)));
    engine->impl_->weakEngine = engine;
    return engine;
}

LoudnessEngine::LoudnessEngine(Instrumentation instrumentation)
    : impl_(std::make_unique<Impl>(*this, std::move(instrumentation))) {}

LoudnessEngine::~LoudnessEngine() {
    Impl& d = *impl_;
    // Blocks still queued hold the engine only weakly (a strong one would keep it alive), so
    // they may be dropped unrun.
    d.queue->workGuard.reset();
    d.queue->io.stop();
    if (d.onQueueThread()) {
        // The last reference went away inside a block on the queue. The thread cannot join
        // itself: it leaves run() right after this block and frees the io_context on its own.
        d.queueThread.detach();
    } else {
        d.queueThread.join();
    }
}

void LoudnessEngine::start(std::shared_ptr<AudioCaptureSource> newSource) {
    if (!newSource) {
        throw std::invalid_argument("LoudnessEngine::start needs a capture source");
    }
    Impl& d = *impl_;
    const std::weak_ptr<LoudnessEngine> weak = d.weakEngine;

    // Intake, on the source's delivery thread: a time stamp and a post, nothing else. The
    // posted block keeps the engine alive until the buffer has been through it.
    newSource->onBuffer = [weak](ChannelBuffers&& buffers) {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        Impl& impl = *self->impl_;
        const TimePoint enqueuedAt = impl.now();
        impl.post([self = std::move(self), enqueuedAt, buffers = std::move(buffers)] {
            self->impl_->realBuffer(enqueuedAt, buffers);
        });
    };
    newSource->onError = [weak](std::exception_ptr error) {
        const auto self = weak.lock();
        if (self && self->onError) {
            self->onError(std::move(error));
        }
    };

    // A failure leaves the engine as it was; the error goes to the caller unchanged.
    newSource->start();

    const int channelCount = newSource->channelCount();
    const std::vector<ChannelPosition> positions = newSource->channelPositions();
    const std::uint64_t generation = ++d.requestedGeneration;
    if (d.onQueueThread()) {
        d.configure(channelCount, positions, generation);
    } else {
        std::promise<void> configured;
        d.post([weak, channelCount, &positions, generation, &configured] {
            if (const auto self = weak.lock()) {
                self->impl_->configure(channelCount, positions, generation);
            }
            configured.set_value();
        });
        configured.get_future().wait();
    }

    d.source = std::move(newSource);
    d.isRunning = true;

    d.hasKeepAliveTimer = true;
    d.post([weak] {
        if (const auto self = weak.lock()) {
            self->impl_->startKeepAliveTimer();
        }
    });

    printLogLine("[Tessaro] LoudnessEngine started (channelCount=" + std::to_string(channelCount) +
                 ")");
}

void LoudnessEngine::stop() {
    Impl& d = *impl_;
    const std::weak_ptr<LoudnessEngine> weak = d.weakEngine;
    if (d.source) {
        // Delivery stops first: once stop() has returned no callback of the source runs, so
        // the callbacks can be dropped without racing a call in flight.
        d.source->stop();
        d.source->onBuffer = nullptr;
        d.source->onError = nullptr;
    }
    d.source.reset();
    d.isRunning = false;
    if (d.hasKeepAliveTimer) {
        d.hasKeepAliveTimer = false;
        d.post([weak] {
            if (const auto self = weak.lock()) {
                self->impl_->cancelKeepAliveTimer();
            }
        });
    }
    // Buffers posted before this block are still analysed; later ones find no analyzer.
    d.post([weak] {
        if (const auto self = weak.lock()) {
            self->impl_->analyzer.reset();
        }
    });
    printLogLine("[Tessaro] LoudnessEngine stopped");
}

void LoudnessEngine::resetLoudnessStatistics() {
    const std::uint64_t generation = ++impl_->requestedGeneration;
    impl_->post([weak = impl_->weakEngine, generation] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        self->impl_->snapshotGeneration = generation;
        if (self->impl_->analyzer) {
            self->impl_->analyzer->resetLoudnessStatistics();
        }
    });
}

void LoudnessEngine::resetPhaseAndSpectrum() {
    impl_->post([weak = impl_->weakEngine] {
        const auto self = weak.lock();
        if (self && self->impl_->analyzer) {
            self->impl_->analyzer->resetPhaseAndSpectrum();
        }
    });
}

bool LoudnessEngine::isRunning() const {
    return impl_->isRunning.load();
}

std::uint64_t LoudnessEngine::generation() const {
    return impl_->requestedGeneration.load();
}

}  // namespace orvinta
