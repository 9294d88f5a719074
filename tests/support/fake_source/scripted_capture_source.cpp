#include "tests/support/fake_source/scripted_capture_source.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace orvinta {

namespace {

std::optional<int> defaultBitDepth(SampleType type) {
    switch (type) {
        case SampleType::unsigned8:
            return 8;
        case SampleType::signed16:
            return 16;
        case SampleType::signed24Packed:
        case SampleType::signed24In32:
            return 24;
        case SampleType::signed32:
        case SampleType::float32:
            return 32;
        case SampleType::float64:
            return 64;
    }
    return std::nullopt;
}

bool isFloat(SampleType type) {
    return type == SampleType::float32 || type == SampleType::float64;
}

std::int64_t quantize(double value, double scale, double min, double max) {
    if (!std::isfinite(value)) {
        return 0;
    }
    return static_cast<std::int64_t>(std::clamp(std::round(value * scale), min, max));
}

// Writes one sample in the little-endian device format.
void encode(SampleType type, double value, unsigned char* out) {
    switch (type) {
        case SampleType::unsigned8:
            out[0] = static_cast<unsigned char>(quantize(value, 128.0, -128.0, 127.0) + 128);
            return;
        case SampleType::signed16: {
            const auto v = static_cast<std::uint16_t>(quantize(value, 32768.0, -32768.0, 32767.0));
            out[0] = static_cast<unsigned char>(v & 0xFF);
            out[1] = static_cast<unsigned char>(v >> 8);
            return;
        }
        case SampleType::signed24Packed:
        case SampleType::signed24In32: {
            const auto v =
                static_cast<std::uint32_t>(quantize(value, 8388608.0, -8388608.0, 8388607.0));
            out[0] = static_cast<unsigned char>(v & 0xFF);
            out[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
            out[2] = static_cast<unsigned char>((v >> 16) & 0xFF);
            if (type == SampleType::signed24In32) {
                out[3] = static_cast<unsigned char>((v >> 24) & 0xFF);
            }
            return;
        }
        case SampleType::signed32: {
            const auto v = static_cast<std::uint32_t>(
                quantize(value, 2147483648.0, -2147483648.0, 2147483647.0));
            std::memcpy(out, &v, 4);
            return;
        }
        case SampleType::float32: {
            const auto v = static_cast<float>(value);
            std::memcpy(out, &v, 4);
            return;
        }
        case SampleType::float64:
            std::memcpy(out, &value, 8);
            return;
    }
}

}  // namespace

ScriptedCaptureSource::ScriptedCaptureSource(Options opts)
    : options(std::move(opts)),
      outputChannels(options.outputChannelCount > 0 ? options.outputChannelCount
                                                    : std::max(options.format.channelCount, 1)),
      // Stored here and thrown by start().
      startError(options.startError) {}  // NOLINT(bugprone-throw-keyword-missing)

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
    return outputChannels;
}

void ScriptedCaptureSource::setStartError(std::exception_ptr error) {
    const std::lock_guard lock(mutex);
    startError = std::move(error);
}

void ScriptedCaptureSource::start() {
    std::exception_ptr error;
    {
        const std::lock_guard lock(mutex);
        error = startError;
    }
    if (error) {
        std::rethrow_exception(error);
    }
    stop();
    starts.fetch_add(1);
    converter = std::make_unique<AudioFormatConverter>(outputChannels);
    if (onFormatInfo) {
        onFormatInfo(AudioFormatInfo{
            options.format.sampleRate,
            options.bitDepth ? options.bitDepth : defaultBitDepth(options.format.sampleType),
            isFloat(options.format.sampleType), options.format.channelCount});
    }
    {
        const std::lock_guard lock(mutex);
        stopRequested = false;
        paused = false;
        resumed = false;
        requested = 0;
        pendingErrors.clear();
    }
    running = true;
    thread = std::thread([this] { run(); });
}

void ScriptedCaptureSource::stop() {
    {
        const std::lock_guard lock(mutex);
        stopRequested = true;
    }
    wake.notify_all();
    if (thread.joinable()) {
        if (thread.get_id() == std::this_thread::get_id()) {
            // Called from a callback: the loop ends when the callback returns.
            return;
        }
        thread.join();
        stops.fetch_add(1);
    }
    running = false;
}

void ScriptedCaptureSource::deliver(std::size_t buffers) {
    {
        const std::lock_guard lock(mutex);
        requested += buffers;
    }
    wake.notify_all();
}

void ScriptedCaptureSource::pause() {
    const std::lock_guard lock(mutex);
    paused = true;
}

void ScriptedCaptureSource::resume() {
    {
        const std::lock_guard lock(mutex);
        paused = false;
        resumed = true;
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
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
        static_cast<double>(options.framesPerBuffer) / options.format.sampleRate));
    Clock::time_point epoch = Clock::now();
    std::int64_t paced = 0;  // buffers delivered by the pacing since `epoch`
    std::int64_t frame = 0;

    std::unique_lock lock(mutex);
    for (;;) {
        const bool realTime = options.pacing == Pacing::realTime;
        if (resumed) {
            resumed = false;
            epoch = Clock::now();
            paced = 0;
        }
        const auto due = epoch + (paced + 1) * period;
        wake.wait_until(lock, realTime && !paused ? due : Clock::time_point::max(), [&] {
            return stopRequested || requested > 0 || !pendingErrors.empty() || resumed ||
                   (realTime && !paused && Clock::now() >= due);
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
        bool produce = false;
        if (requested > 0) {
            --requested;
            produce = true;
        } else if (realTime && !paused && Clock::now() >= due) {
            ++paced;
            produce = true;
        }
        if (!produce) {
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
    const PcmFormat& format = options.format;
    const auto channels = static_cast<std::size_t>(std::max(format.channelCount, 0));
    const std::size_t frames = options.framesPerBuffer;
    const std::size_t sampleBytes = bytesPerSample(format.sampleType);
    const std::size_t blockCount = format.interleaved ? 1 : std::max<std::size_t>(channels, 1);
    blocks.resize(blockCount);
    for (auto& block : blocks) {
        block.resize(format.interleaved ? frames * channels * sampleBytes : frames * sampleBytes);
    }
    for (std::size_t i = 0; i < frames; ++i) {
        for (std::size_t c = 0; c < channels; ++c) {
            const double value =
                options.signal
                    ? options.signal(static_cast<int>(c), firstFrame + static_cast<std::int64_t>(i))
                    : 0.0;
            unsigned char* out = format.interleaved
                                     ? blocks[0].data() + (i * channels + c) * sampleBytes
                                     : blocks[c].data() + i * sampleBytes;
            encode(format.sampleType, value, out);
        }
    }
    blockPointers.clear();
    for (const auto& block : blocks) {
        blockPointers.push_back(block.data());
    }
    auto converted = converter->convert(PcmBuffer{format, frames, blockPointers.data()});
    if (converted && onBuffer) {
        onBuffer(std::move(*converted));
    }
    // Counted only after onBuffer returned, so a waiter sees the buffer handed over.
    delivered.fetch_add(1);
}

}  // namespace orvinta
