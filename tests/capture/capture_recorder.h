#pragma once

#include <ebur128.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/audio_capture_source.h"
#include "capture/loudness_engine.h"

namespace orvinta::testing {

using std::chrono::milliseconds;
constexpr milliseconds kWait{10000};

// Collects what a capture source delivers, from its delivery thread, for a test thread to wait
// on and inspect.
class CaptureRecorder {
public:
    void attach(AudioCaptureSource& source) {
        source.onBuffer = [this](ChannelBuffers&& block) {
            const std::lock_guard lock(mutex_);
            frames_ += block.empty() ? 0 : block.front().size();
            blocks_.push_back(std::move(block));
            changed_.notify_all();
        };
        source.onError = [this](std::exception_ptr error) {
            const std::lock_guard lock(mutex_);
            errors_.push_back(error);
            changed_.notify_all();
        };
        source.onFormatInfo = [this](const AudioFormatInfo& info) {
            const std::lock_guard lock(mutex_);
            formats_.push_back(info);
        };
    }

    // Waits until at least `frames` more frames than now have arrived; false on timeout.
    bool waitForMoreFrames(std::size_t frames, milliseconds timeout = kWait) {
        std::unique_lock lock(mutex_);
        const std::size_t target = frames_ + frames;
        return changed_.wait_for(lock, timeout, [&] { return frames_ >= target; });
    }
    bool waitForError(milliseconds timeout = kWait) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return !errors_.empty(); });
    }

    std::vector<ChannelBuffers> blocks() const { return locked(blocks_); }
    std::size_t blockCount() const { return locked(blocks_).size(); }
    std::vector<std::exception_ptr> errors() const { return locked(errors_); }
    std::vector<AudioFormatInfo> formats() const { return locked(formats_); }
    void clearBlocks() {
        const std::lock_guard lock(mutex_);
        blocks_.clear();
    }

private:
    template <typename T>
    T locked(const T& value) const {
        const std::lock_guard lock(mutex_);
        return value;
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t frames_ = 0;
    std::vector<ChannelBuffers> blocks_;
    std::vector<std::exception_ptr> errors_;
    std::vector<AudioFormatInfo> formats_;
};

// The momentary loudness of the last 400 ms of the blocks, measured by libebur128.
inline double momentaryLoudnessOfLast400ms(const std::vector<ChannelBuffers>& blocks) {
    constexpr std::size_t kFrames = 19200;
    if (blocks.empty() || blocks.front().empty()) {
        return -HUGE_VAL;
    }
    const std::size_t channels = blocks.front().size();
    std::vector<float> interleaved;
    for (const auto& block : blocks) {
        for (std::size_t i = 0; i < block.front().size(); ++i) {
            for (std::size_t c = 0; c < channels; ++c) {
                interleaved.push_back(block[c][i]);
            }
        }
    }
    const std::size_t frames = interleaved.size() / channels;
    const std::size_t first = frames > kFrames ? frames - kFrames : 0;
    ebur128_state* state = ebur128_init(static_cast<unsigned>(channels), 48000, EBUR128_MODE_M);
    ebur128_add_frames_float(state, interleaved.data() + first * channels, frames - first);
    double loudness = -HUGE_VAL;
    ebur128_loudness_momentary(state, &loudness);
    ebur128_destroy(&state);
    return loudness;
}

// BS.1770: a full-scale 1 kHz sine reads -3.01 LUFS per channel; channels add by power.
inline double sineLoudness(double peak, double channels) {
    return 20.0 * std::log10(peak) + 10.0 * std::log10(channels) - 3.0103;
}

// Polls `condition` every 10 ms for at most `timeout`.
inline bool eventually(const std::function<bool()>& condition, milliseconds timeout = kWait) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
    return true;
}

// Runs a LoudnessEngine on a source and keeps its latest snapshot and how many came.
class EngineProbe {
public:
    EngineProbe() : engine(LoudnessEngine::create()) {
        engine->onSnapshot = [this](const LoudnessSnapshot& snapshot) {
            const std::lock_guard lock(mutex_);
            latest_ = snapshot;
            ++count_;
        };
    }
    ~EngineProbe() { engine->stop(); }
    EngineProbe(const EngineProbe&) = delete;
    EngineProbe& operator=(const EngineProbe&) = delete;

    LoudnessSnapshot latest() const {
        const std::lock_guard lock(mutex_);
        return latest_;
    }
    std::size_t count() const {
        const std::lock_guard lock(mutex_);
        return count_;
    }
    // Waits until the momentary loudness reads `lufs` within 0.2 LU.
    bool readsMomentary(double lufs) const {
        return eventually([&] { return std::abs(latest().momentaryLUFS - lufs) < 0.2; });
    }

    std::shared_ptr<LoudnessEngine> engine;

private:
    mutable std::mutex mutex_;
    LoudnessSnapshot latest_;
    std::size_t count_ = 0;
};

// The error's message, whatever its type.
inline std::string messageOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

}  // namespace orvinta::testing
