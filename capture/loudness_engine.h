#pragma once

#include <exception>
#include <functional>
#include <memory>

#include "capture/audio_capture_source.h"
#include "measurement/loudness_snapshot.h"

namespace orvinta {

// Drives a LoudnessAnalyzer from a capture source on one serial processing queue (an asio
// io_context run by the engine's own thread), throttles snapshots to one per 33 ms, and feeds
// silence while the source stalls. Owned by std::shared_ptr (make it with create()); every
// closure it hands out holds it weakly.
//
// Threads: start() runs on a background thread and blocks only for the source's start and the
// configuration on the queue; stop() and the resets are called from the owner's thread and only
// post work. onSnapshot is called on the processing queue, onError on the reporting source's
// thread. Set both callbacks before the first start().
class LoudnessEngine : public std::enable_shared_from_this<LoudnessEngine> {
public:
    using SnapshotCallback = std::function<void(const LoudnessSnapshot&)>;
    using ErrorCallback = std::function<void(std::exception_ptr)>;

    static std::shared_ptr<LoudnessEngine> create();
    ~LoudnessEngine();

    SnapshotCallback onSnapshot;
    ErrorCallback onError;

    // Starts the source and the analysis. Throws the source's error unchanged when its start
    // fails; the engine then stays idle.
    void start(std::shared_ptr<AudioCaptureSource> source);
    void stop();
    void resetLoudnessStatistics();
    void resetPhaseAndSpectrum();
    bool isRunning() const;

private:
    LoudnessEngine();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvinta
