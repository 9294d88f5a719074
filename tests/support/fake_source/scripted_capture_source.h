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
#include <optional>
#include <thread>
#include <vector>

#include "capture/audio_capture_source.h"
#include "capture/audio_format_converter.h"

namespace orvinta {

// A capture source that plays a script instead of a device, for tests of the engine, the
// application state and the application. Like a real source it has its own delivery thread,
// produces PCM in a device format of the test's choosing (rate, sample type, layout, channel
// count) and passes it through an AudioFormatConverter, so onBuffer receives 48 kHz float
// planar buffers exactly as from a sound server.
//
// Typical use:
//     ScriptedCaptureSource::Options options;
//     options.format = {44100.0, 2, SampleType::signed16, true};
//     options.signal = ScriptedCaptureSource::sine(1000.0, -23.0);
//     auto source = std::make_shared<ScriptedCaptureSource>(options);
//     engine->start(source);      // real-time pacing: a buffer every 1024 / 44100 s
//     source->pause();            // simulate a stall ... source->resume();
//
// With Pacing::manual nothing is delivered until deliver(n) asks for n buffers, which makes
// tests independent of timing. Control methods may be called from any thread. The callbacks
// are set before start() and after stop() only (the contract's rule); stop() and the
// destructor must not be called from inside a callback.
class ScriptedCaptureSource : public AudioCaptureSource {
public:
    // Sample value (full scale 1.0) of `channel` at `frame`, counted at the device rate from
    // the first frame of the run. Called on the delivery thread.
    using Signal = std::function<double(int channel, std::int64_t frame)>;

    enum class Pacing {
        realTime,  // one buffer every framesPerBuffer / sampleRate seconds from start() on
        manual,    // one buffer per request through deliver()
    };

    struct Options {
        // What the simulated device delivers.
        PcmFormat format{48000.0, 2, SampleType::float32, false};
        std::size_t framesPerBuffer = 1024;
        Pacing pacing = Pacing::realTime;
        // Silence when empty.
        Signal signal;
        // Channels delivered to onBuffer; 0 means the device's channel count.
        int outputChannelCount = 0;
        // Reported through onFormatInfo; when empty it follows from the sample type.
        std::optional<int> bitDepth;
        // When set, start() throws it and delivers nothing.
        std::exception_ptr startError;
    };

    explicit ScriptedCaptureSource(Options options);
    ~ScriptedCaptureSource() override;

    // A sine of `frequencyHz` at `levelDbfs` peak level on every channel, at the device rate
    // given in `sampleRate`.
    static Signal sine(double frequencyHz, double levelDbfs, double sampleRate);

    int channelCount() const override;
    // Throws Options::startError (or the one set later) if there is one; otherwise reports the
    // format through onFormatInfo and starts the delivery thread.
    void start() override;
    // Stops and joins the delivery thread; afterwards no callback runs. Safe when idle.
    void stop() override;

    // Makes every later start() throw `error` (nullptr: succeed again).
    void setStartError(std::exception_ptr error);
    // Asks for `buffers` more buffers (Pacing::manual; with real-time pacing they come in
    // addition, at once).
    void deliver(std::size_t buffers = 1);
    // Real-time pacing only: no buffers until resume(), which restarts the pacing from then.
    void pause();
    void resume();
    // Passes `error` to onError on the delivery thread while running.
    void reportError(std::exception_ptr error);

    // Device buffers produced so far, over all runs; each went to onBuffer whenever the
    // converter gave frames for it (a resampler may hold back the first few).
    std::size_t buffersDelivered() const { return delivered.load(); }
    // Waits until at least `count` buffers have been delivered, or `timeout` has passed.
    bool waitForDelivered(std::size_t count, std::chrono::milliseconds timeout) const;
    int startCount() const { return starts.load(); }
    int stopCount() const { return stops.load(); }
    bool isDelivering() const { return running.load(); }

private:
    void run();
    void produceAndDeliver(std::int64_t firstFrame);

    const Options options;
    const int outputChannels;
    std::unique_ptr<AudioFormatConverter> converter;  // one per run, delivery thread only

    mutable std::mutex mutex;
    mutable std::condition_variable wake;
    bool stopRequested = false;
    bool paused = false;
    bool resumed = false;
    std::size_t requested = 0;
    std::deque<std::exception_ptr> pendingErrors;
    std::exception_ptr startError;

    std::atomic<bool> running{false};
    std::atomic<std::size_t> delivered{0};
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::thread thread;

    // Delivery thread only: the encoded device buffer.
    std::vector<std::vector<unsigned char>> blocks;
    std::vector<const void*> blockPointers;
};

}  // namespace orvinta
