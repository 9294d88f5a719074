#pragma once

#include <ebur128.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "capture/audio_capture_source.h"
#include "capture/loudness_engine.h"

namespace orvinta::testing {

// Collects what a capture source delivers, from its delivery thread, for a test thread to wait
// on and inspect.
class CaptureRecorder {
public:
    void attach(AudioCaptureSource& source) {
        source.onBuffer = [this](ChannelBuffers&& block) {
            std::lock_guard lock(mutex_);
            blocks_.push_back(std::move(block));
            changed_.notify_all();
        };
        source.onError = [this](std::exception_ptr error) {
            std::lock_guard lock(mutex_);
            errors_.push_back(error);
            changed_.notify_all();
        };
        source.onFormatInfo = [this](const AudioFormatInfo& info) {
            std::lock_guard lock(mutex_);
            formats_.push_back(info);
        };
    }

    // Waits until at least `frames` more frames than now have arrived; false on timeout.
    bool waitForMoreFrames(std::size_t frames,
                           std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        const std::size_t target = framesLocked() + frames;
        return changed_.wait_for(lock, timeout, [&] { return framesLocked() >= target; });
    }

    bool waitForError(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return !errors_.empty(); });
    }

    std::vector<ChannelBuffers> blocks() const {
        std::lock_guard lock(mutex_);
        return blocks_;
    }
    std::size_t blockCount() const {
        std::lock_guard lock(mutex_);
        return blocks_.size();
    }
    std::vector<std::exception_ptr> errors() const {
        std::lock_guard lock(mutex_);
        return errors_;
    }
    std::vector<AudioFormatInfo> formats() const {
        std::lock_guard lock(mutex_);
        return formats_;
    }
    void clearBlocks() {
        std::lock_guard lock(mutex_);
        blocks_.clear();
    }

private:
    std::size_t framesLocked() const {
        std::size_t frames = 0;
        for (const auto& block : blocks_) {
            frames += block.empty() ? 0 : block.front().size();
        }
        return frames;
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ChannelBuffers> blocks_;
    std::vector<std::exception_ptr> errors_;
    std::vector<AudioFormatInfo> formats_;
};

// The momentary loudness (400 ms) of the last 400 ms of the blocks, measured by libebur128.
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

// Runs a LoudnessEngine and keeps what a test needs of it: the frames of real (not injected)
// audio it analysed and the momentary loudness of its latest snapshot.
class EngineProbe {
public:
    EngineProbe() {
        LoudnessEngine::Instrumentation hooks;
        hooks.onProcessed = [this](const ChannelBuffers& buffers, bool synthetic) {
            if (synthetic || buffers.empty()) {
                return;
            }
            std::lock_guard lock(mutex_);
            realFrames_ += buffers.front().size();
            changed_.notify_all();
        };
        engine = LoudnessEngine::create(std::move(hooks));
        engine->onSnapshot = [this](const LoudnessSnapshot& snapshot) {
            std::lock_guard lock(mutex_);
            momentaryLUFS_ = snapshot.momentaryLUFS;
        };
        engine->onError = [this](std::exception_ptr error) {
            std::lock_guard lock(mutex_);
            errors_.push_back(error);
        };
    }
    ~EngineProbe() { engine->stop(); }
    EngineProbe(const EngineProbe&) = delete;
    EngineProbe& operator=(const EngineProbe&) = delete;

    // Waits until the engine has analysed `frames` more frames of real audio than now.
    bool waitForMoreRealFrames(std::size_t frames,
                               std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        const std::size_t target = realFrames_ + frames;
        return changed_.wait_for(lock, timeout, [&] { return realFrames_ >= target; });
    }
    double momentaryLUFS() const {
        std::lock_guard lock(mutex_);
        return momentaryLUFS_;
    }
    std::size_t errorCount() const {
        std::lock_guard lock(mutex_);
        return errors_.size();
    }

    std::shared_ptr<LoudnessEngine> engine;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t realFrames_ = 0;
    double momentaryLUFS_ = -HUGE_VAL;
    std::vector<std::exception_ptr> errors_;
};

// Polls `condition` every 10 ms for at most `timeout`.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

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
