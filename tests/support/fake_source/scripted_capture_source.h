#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "capture/audio_capture_source.h"
#include "capture/audio_format_converter.h"

namespace orvinta {

// A capture source that plays a script instead of a device, for tests of the engine, the
// application state and the application. Like a real source it has its own delivery thread and
// passes its samples (float, at the device rate of `format`) through an AudioFormatConverter,
// so onBuffer receives 48 kHz float planar buffers as from a sound server; `format` also gives
// the format report (a 24-bit sample type reports 24 bits).
//
// Real-time pacing delivers a buffer every framesPerBuffer / sampleRate seconds; with manual
// pacing nothing comes until deliver(n). Control methods may be called from any thread; stop()
// and the destructor not from inside a callback.
class ScriptedCaptureSource : public AudioCaptureSource {
public:
    // Sample value (full scale 1.0) of `channel` at `frame`, counted at the device rate from
    // the first frame of the run. Called on the delivery thread.
    using Signal = std::function<double(int channel, std::int64_t frame)>;

    enum class Pacing { realTime, manual };

    struct Options {
        PcmFormat format{48000.0, 2, SampleType::float32, false};
        std::size_t framesPerBuffer = 1024;
        Pacing pacing = Pacing::realTime;
        Signal signal;                  // silence when empty
        std::exception_ptr startError;  // thrown by every start() when set
    };

    explicit ScriptedCaptureSource(Options options);
    ~ScriptedCaptureSource() override;

    // A sine of `frequencyHz` at `levelDbfs` peak on every channel, at the device rate
    // `sampleRate`.
    static Signal sine(double frequencyHz, double levelDbfs, double sampleRate);

    int channelCount() const override;
    void start() override;
    // Joins the delivery thread; afterwards no callback runs. Safe when idle.
    void stop() override;

    // Asks for `buffers` more buffers at once (in addition to any pacing).
    void deliver(std::size_t buffers = 1);
    // Passes `error` to onError on the delivery thread while running.
    void reportError(std::exception_ptr error);

    // Waits until `count` device buffers have gone to onBuffer (over all runs).
    bool waitForDelivered(std::size_t count, std::chrono::milliseconds timeout) const;
    std::size_t buffersDelivered() const { return delivered.load(); }
    int startCount() const { return starts.load(); }
    int stopCount() const { return stops.load(); }
    // Between a start that succeeded and the stop that ended it.
    bool isDelivering() const { return starts.load() > stops.load(); }

private:
    void run();
    void produceAndDeliver(std::int64_t firstFrame);

    const Options options;
    std::unique_ptr<AudioFormatConverter> converter;  // one per run, delivery thread only
    std::vector<std::vector<float>> device;           // delivery thread only

    mutable std::mutex mutex;
    mutable std::condition_variable wake;
    bool stopRequested = false;
    std::size_t requested = 0;
    std::deque<std::exception_ptr> pendingErrors;

    std::atomic<std::size_t> delivered{0};
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::thread thread;
};

// A clock that tests move by hand, readable from any thread.
class ManualClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    TimePoint now() const { return TimePoint(std::chrono::nanoseconds(ns.load())); }
    void advance(std::chrono::nanoseconds d) { ns += d.count(); }

private:
    std::atomic<std::int64_t> ns{std::chrono::nanoseconds(std::chrono::hours(1)).count()};
};

}  // namespace orvinta
