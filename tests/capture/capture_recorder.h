#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/audio_capture_source.h"
#include "capture/loudness_engine.h"
#include "tests/support/eventually.h"

namespace orvinta::testing {

// BS.1770: a full-scale 1 kHz sine reads -3.01 LUFS per channel; channels add by power.
inline double sineLoudness(double peak, double channels) {
    return 20.0 * std::log10(peak) + 10.0 * std::log10(channels) - 3.0103;
}

// Meters a capture source through a LoudnessEngine, as the application does, and keeps what a
// test checks: the latest snapshot, the loudest momentary reading, the formats and the errors.
// Starting throws what the source's start throws; destruction stops the engine and the source.
class EngineProbe {
public:
    explicit EngineProbe(const std::shared_ptr<AudioCaptureSource>& source)
        : engine_(LoudnessEngine::create()) {
        engine_->onSnapshot = [this](const LoudnessSnapshot& snapshot) {
            const std::lock_guard lock(mutex_);
            latest_ = snapshot;
            loudest_ = std::max(loudest_, snapshot.momentaryLUFS);
            ++count_;
        };
        engine_->onError = [this](const std::exception_ptr& error) {
            const std::lock_guard lock(mutex_);
            errors_.push_back(error);
        };
        source->onFormatInfo = [this](const AudioFormatInfo& info) {
            const std::lock_guard lock(mutex_);
            formats_.push_back(info);
        };
        engine_->start(source);
    }
    ~EngineProbe() { engine_->stop(); }
    EngineProbe(const EngineProbe&) = delete;
    EngineProbe& operator=(const EngineProbe&) = delete;

    LoudnessSnapshot latest() const { return locked(latest_); }
    double loudestMomentaryLUFS() const { return locked(loudest_); }
    std::vector<std::exception_ptr> errors() const { return locked(errors_); }
    std::vector<AudioFormatInfo> formats() const { return locked(formats_); }

    // Waits until the momentary loudness reads `lufs` within 0.2 LU.
    bool reads(double lufs) const {
        return eventually([&] { return std::abs(latest().momentaryLUFS - lufs) < 0.2; });
    }
    // Waits for `count` more snapshots, which come at least 33 ms apart.
    bool passes(std::size_t count) const {
        const std::size_t target = locked(count_) + count;
        return eventually([&] { return locked(count_) >= target; });
    }
    bool failed() const {
        return eventually([&] { return !errors().empty(); });
    }

private:
    template <typename T>
    T locked(const T& value) const {
        const std::lock_guard lock(mutex_);
        return value;
    }

    std::shared_ptr<LoudnessEngine> engine_;
    mutable std::mutex mutex_;
    LoudnessSnapshot latest_;
    double loudest_ = -HUGE_VAL;
    std::size_t count_ = 0;
    std::vector<std::exception_ptr> errors_;
    std::vector<AudioFormatInfo> formats_;
};

}  // namespace orvinta::testing
