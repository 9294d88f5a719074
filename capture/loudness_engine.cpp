#include "capture/loudness_engine.h"

#include <algorithm>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <cstdint>
#include <future>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "capture/console_log.h"
#include "capture/engine_timing.h"
#include "capture/processing_queue.h"
#include "measurement/loudness_analyzer.h"

namespace orvinta {

namespace timing = engine_timing;
using timing::TimePoint;

namespace {

constexpr std::chrono::milliseconds keepAliveTick{timing::keepAliveTickMs};
constexpr double kNegativeInfinity = -std::numeric_limits<double>::infinity();

std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "an unknown error";
    }
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

    // Frames posted by the intake and not yet taken up by the queue: added on the source's
    // delivery thread, subtracted on the queue. Relaxed is enough, it only bounds the backlog.
    std::atomic<std::int64_t> framesInFlight{0};
    // The intake's drops in the current stall; the delivery thread of one source at a time
    // (start() and stop() hand over between sources).
    std::int64_t droppedBuffers = 0;
    std::int64_t droppedFrames = 0;

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
    // Per channel, the highest true peak since the last published snapshot, so that a peak
    // whose own snapshot was dropped by the throttle reaches the next published one.
    std::vector<double> truePeakSincePublished;
    // The published snapshot, reused so that its vectors keep their memory.
    LoudnessSnapshot published;

    TimePoint now() const { return instrumentation.clock(); }
    bool onQueueThread() const { return std::this_thread::get_id() == queueThread.get_id(); }

    template <typename Block>
    void post(Block&& block) {
        asio::post(queue->io, std::forward<Block>(block));
    }

    void configure(int channelCount, const std::vector<ChannelPosition>& positions,
                   std::uint64_t generation);
    void intake(std::shared_ptr<LoudnessEngine> self, ChannelBuffers&& buffers);
    void realBuffer(TimePoint enqueuedAt, const ChannelBuffers& buffers);
    // `mayPublish` false: the buffer is analysed and counted, but its snapshot is not offered.
    void process(const ChannelBuffers& buffers, bool synthetic, bool mayPublish = true);
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
    analyzer->onStageBreakdown = [](const LoudnessAnalyzer::StageBreakdown& times) {
        printLogLine(timing::stageBreakdownLine(times));
    };
    sourceChannelCount = channelCount;
    truePeakSincePublished.clear();
    const TimePoint t = now();
    lastEmitTime = t;
    lastThroughputLogTime = t;
    window = {};
    lastRealBufferAt = t;
    lastAdvanceAt = t;
    isInjectingSilence = false;
}

void LoudnessEngine::Impl::intake(std::shared_ptr<LoudnessEngine> self, ChannelBuffers&& buffers) {
    const auto frames =
        buffers.empty() ? std::int64_t{0} : static_cast<std::int64_t>(buffers.front().size());
    // A stalled queue must not gather audio without limit and then analyse it in a burst.
    if (framesInFlight.load(std::memory_order_relaxed) + frames > timing::maxFramesInFlight) {
        ++droppedBuffers;
        droppedFrames += frames;
        return;
    }
    if (droppedBuffers > 0) {
        printLogLine(
            "[Tessaro] LoudnessEngine: processing fell more than 2 s behind capture - "
            "dropped " +
            std::to_string(droppedBuffers) + " buffers (" + std::to_string(droppedFrames) +
            " frames)");
        droppedBuffers = 0;
        droppedFrames = 0;
    }
    const TimePoint enqueuedAt = now();
    framesInFlight.fetch_add(frames, std::memory_order_relaxed);
    post([self = std::move(self), enqueuedAt, frames, buffers = std::move(buffers)] {
        Impl& d = *self->impl_;
        d.framesInFlight.fetch_sub(frames, std::memory_order_relaxed);
        d.realBuffer(enqueuedAt, buffers);
    });
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

void LoudnessEngine::Impl::process(const ChannelBuffers& buffers, bool synthetic, bool mayPublish) {
    if (!analyzer) {
        return;
    }
    const TimePoint t0 = now();
    const LoudnessSnapshot& snapshot = analyzer->process(buffers);
    const TimePoint t1 = now();
    if (truePeakSincePublished.size() != snapshot.truePeakDBTP.size()) {
        truePeakSincePublished.assign(snapshot.truePeakDBTP.size(), kNegativeInfinity);
    }
    for (std::size_t c = 0; c < truePeakSincePublished.size(); ++c) {
        truePeakSincePublished[c] = std::max(truePeakSincePublished[c], snapshot.truePeakDBTP[c]);
    }
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
    // A snapshot too soon after the last one is dropped, never held back for later; only its
    // true peak lives on in the next one (its momentary loudness already counts towards the
    // analyzer's running maximum).
    if (mayPublish && timing::mayEmit(t, lastEmitTime)) {
        lastEmitTime = t;
        published = snapshot;
        published.generation = snapshotGeneration;
        published.truePeakDBTP = truePeakSincePublished;
        std::fill(truePeakSincePublished.begin(), truePeakSincePublished.end(), kNegativeInfinity);
        if (engine.onSnapshot) {
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
        try {
            d.tick();
        } catch (...) {
            // The timer must keep running, or the meters freeze at the next stall.
            printLogLine("[Tessaro] LoudnessEngine: keep-alive tick failed: " +
                         describe(std::current_exception()));
        }
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
    std::int64_t frames = timing::silenceFrameCount(gapMs);
    silence.resize(static_cast<std::size_t>(std::max<std::int64_t>(sourceChannelCount, 1)));
    while (frames > 0) {
        const std::int64_t block = std::min(frames, timing::maxSilenceBlockFrames);
        frames -= block;
        for (auto& channel : silence) {
            channel.resize(static_cast<std::size_t>(block));
        }
        // Only the last block's snapshot, which holds the whole tick, is offered.
        process(silence, true, frames == 0);
    }
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

    // Intake, on the source's delivery thread: a count, a time stamp and a post, nothing else.
    // The posted block keeps the engine alive until the buffer has been through it.
    newSource->onBuffer = [weak](ChannelBuffers&& buffers) {
        if (auto self = weak.lock()) {
            Impl& impl = *self->impl_;
            impl.intake(std::move(self), std::move(buffers));
        }
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
    // Fulfilled with an empty text once configured, or with the reason it failed. Only the
    // text crosses threads, never the exception.
    std::promise<std::string> configured;
    const auto configure = [weak, channelCount, &positions, generation, &configured] {
        std::string failure;
        const auto self = weak.lock();
        try {
            if (self) {
                self->impl_->configure(channelCount, positions, generation);
            }
        } catch (...) {
            failure = describe(std::current_exception());
            if (failure.empty()) {
                failure = "an unnamed error";
            }
            if (self) {
                self->impl_->analyzer.reset();
            }
        }
        configured.set_value(std::move(failure));
    };
    if (d.onQueueThread()) {
        configure();
    } else {
        d.post(configure);
    }
    if (const std::string reason = configured.get_future().get(); !reason.empty()) {
        // Nothing of this start stays behind: the source stops and the engine is idle.
        newSource->stop();
        newSource->onBuffer = nullptr;
        newSource->onError = nullptr;
        printLogLine("[Tessaro] LoudnessEngine: configuration failed: " + reason);
        throw std::runtime_error("Metering could not start: the analyzer for " +
                                 std::to_string(channelCount) + " channels could not be set up (" +
                                 reason +
                                 "). Close other programs to free memory or choose another "
                                 "input, then press START again.");
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
        Impl& d = *self->impl_;
        d.snapshotGeneration = generation;
        std::fill(d.truePeakSincePublished.begin(), d.truePeakSincePublished.end(),
                  kNegativeInfinity);
        if (d.analyzer) {
            d.analyzer->resetLoudnessStatistics();
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
