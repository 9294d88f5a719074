#include "tests/support/fake_source/scripted_capture_source.h"

#include <cmath>
#include <numbers>
#include <vector>

namespace orvinta {

ScriptedCaptureSource::ScriptedCaptureSource(Options opts) : options(std::move(opts)) {}

ScriptedCaptureSource::~ScriptedCaptureSource() {
    stop();
}

ScriptedCaptureSource::Signal ScriptedCaptureSource::sine(double frequencyHz, double levelDbfs,
                                                          double sampleRate) {
    const double amplitude = std::pow(10.0, levelDbfs / 20.0);
    const double step = 2.0 * std::numbers::pi * frequencyHz / sampleRate;
    return [amplitude, step](int, std::int64_t frame) {
        return amplitude * std::sin(step * static_cast<double>(frame));
    };
}

int ScriptedCaptureSource::channelCount() const {
    return options.format.channelCount;
}

void ScriptedCaptureSource::start() {
    if (options.startError) {
        std::rethrow_exception(options.startError);
    }
    stop();
    starts.fetch_add(1);
    converter = std::make_unique<AudioFormatConverter>(options.format.channelCount);
    if (onFormatInfo) {
        const SampleType type = options.format.sampleType;
        const int bits =
            type == SampleType::signed24In32 ? 24 : static_cast<int>(bytesPerSample(type)) * 8;
        onFormatInfo(AudioFormatInfo{options.format.sampleRate, bits,
                                     type == SampleType::float32 || type == SampleType::float64,
                                     options.format.channelCount});
    }
    {
        const std::lock_guard lock(mutex);
        stopRequested = false;
        requested = 0;
        pendingErrors.clear();
    }
    thread = std::thread([this] { run(); });
}

void ScriptedCaptureSource::stop() {
    {
        const std::lock_guard lock(mutex);
        stopRequested = true;
    }
    wake.notify_all();
    if (thread.joinable()) {
        thread.join();
        stops.fetch_add(1);
    }
}

void ScriptedCaptureSource::deliver(std::size_t buffers) {
    {
        const std::lock_guard lock(mutex);
        requested += buffers;
    }
    wake.notify_all();
}

void ScriptedCaptureSource::reportError(std::exception_ptr error) {
    {
        const std::lock_guard lock(mutex);
        pendingErrors.push_back(std::move(error));
    }
    wake.notify_all();
}

bool ScriptedCaptureSource::waitForDelivered(std::size_t count,
                                             std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex);
    return wake.wait_for(lock, timeout, [&] { return delivered.load() >= count; });
}

void ScriptedCaptureSource::run() {
    using Clock = std::chrono::steady_clock;
    const bool realTime = options.pacing == Pacing::realTime;
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
        static_cast<double>(options.framesPerBuffer) / options.format.sampleRate));
    auto due = Clock::now() + period;
    std::int64_t frame = 0;

    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait_until(lock, realTime ? due : Clock::time_point::max(), [&] {
            return stopRequested || requested > 0 || !pendingErrors.empty() ||
                   (realTime && Clock::now() >= due);
        });
        if (stopRequested) {
            return;
        }
        if (!pendingErrors.empty()) {
            auto error = std::move(pendingErrors.front());
            pendingErrors.pop_front();
            lock.unlock();
            if (onError) {
                onError(std::move(error));
            }
            lock.lock();
            continue;
        }
        if (requested > 0) {
            --requested;
        } else if (realTime && Clock::now() >= due) {
            due += period;
        } else {
            continue;
        }
        lock.unlock();
        produceAndDeliver(frame);
        frame += static_cast<std::int64_t>(options.framesPerBuffer);
        lock.lock();
        wake.notify_all();
    }
}

void ScriptedCaptureSource::produceAndDeliver(std::int64_t firstFrame) {
    const int channels = options.format.channelCount;
    device.resize(static_cast<std::size_t>(channels));
    std::vector<const void*> planes;
    for (int c = 0; c < channels; ++c) {
        auto& plane = device[static_cast<std::size_t>(c)];
        plane.resize(options.framesPerBuffer);
        for (std::size_t i = 0; i < plane.size(); ++i) {
            plane[i] = options.signal ? static_cast<float>(options.signal(
                                            c, firstFrame + static_cast<std::int64_t>(i)))
                                      : 0.0f;
        }
        planes.push_back(plane.data());
    }
    const PcmFormat format{options.format.sampleRate, channels, SampleType::float32, false};
    auto converted = converter->convert(PcmBuffer{format, options.framesPerBuffer, planes.data()});
    if (converted && onBuffer) {
        onBuffer(std::move(*converted));
    }
    // Counted only after onBuffer returned, so a waiter sees the buffer handed over.
    delivered.fetch_add(1);
}

}  // namespace orvinta
