#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

#include "capture/audio_capture_source.h"
#include "measurement/loudness_snapshot.h"

namespace orvinta {

// Drives a LoudnessAnalyzer from a capture source on one serial processing queue (an asio
// io_context run by the engine's own thread), throttles snapshots to one per 33 ms, and feeds
// silence while the source stalls. Owned by std::shared_ptr (make it with create()); every
// closure it hands out holds it weakly. At most 2 s of captured audio wait for the queue; the
// intake drops (and counts, one log line per stall) what comes beyond that.
//
// Threads: start() runs on a background thread and blocks only for the source's start and the
// configuration on the queue; stop() and the resets are called from the owner's thread and only
// post work. onSnapshot is called on the processing queue, onError on the reporting source's
// thread. Set both callbacks before the first start(). Stop the engine before releasing the
// last reference to it. Buffers queued before stop() are still analysed afterwards, and each
// keeps the engine alive until it has been; so onSnapshot may run after stop() has returned
// and after the owner dropped its reference: guard what it captures (a QPointer, a weak_ptr).
class LoudnessEngine : public std::enable_shared_from_this<LoudnessEngine> {
public:
    using SnapshotCallback = std::function<void(const LoudnessSnapshot&)>;
    using ErrorCallback = std::function<void(std::exception_ptr)>;

    static std::shared_ptr<LoudnessEngine> create();

    // What the engine reads the time from, and hooks that watch its work; for tests.
    struct Instrumentation {
        // Replaces the steady clock in every time stamp and interval the engine measures. The
        // keep-alive timer itself still fires every 50 ms of real time. Called on the source's
        // delivery thread and on the processing queue, so it must be thread-safe.
        std::function<std::chrono::steady_clock::time_point()> clock;
        // Sees every buffer handed to the analyzer (`synthetic` for injected silence) once the
        // engine is done with it (counted, logged, snapshot passed on or dropped), on the
        // processing queue.
        std::function<void(const ChannelBuffers& buffers, bool synthetic)> onProcessed;
        // Runs on the processing queue after every keep-alive tick, whatever the tick did.
        std::function<void()> onTick;
    };
    static std::shared_ptr<LoudnessEngine> create(Instrumentation instrumentation);
    ~LoudnessEngine();

    SnapshotCallback onSnapshot;
    ErrorCallback onError;

    // Starts the source and the analysis. Throws the source's error unchanged when its start
    // fails, and a std::runtime_error with a message for the user when the analyzer cannot be
    // set up; either way the engine stays idle and the source is left stopped.
    void start(std::shared_ptr<AudioCaptureSource> source);
    void stop();
    void resetLoudnessStatistics();
    void resetPhaseAndSpectrum();
    bool isRunning() const;
    // Counts the starts and loudness resets requested so far. Every snapshot carries the
    // generation that was current when the analyzer measured it, so a snapshot with a lower
    // generation than this was overtaken by a start or reset and must not be shown.
    std::uint64_t generation() const;

private:
    explicit LoudnessEngine(Instrumentation instrumentation);
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvinta
