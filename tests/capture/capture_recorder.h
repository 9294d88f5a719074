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
// The engine's stop() lets work already queued finish, so a snapshot may still arrive after it:
// the callbacks share what they record instead of pointing into the probe.
class EngineProbe {
public:
    explicit EngineProbe(const std::shared_ptr<AudioCaptureSource>& source)
        : engine_(LoudnessEngine::create()) {
        engine_->onSnapshot = [record = record_](const LoudnessSnapshot& snapshot) {
            const std::lock_guard lock(record->mutex);
            record->latest = snapshot;
            record->loudest = std::max(record->loudest, snapshot.momentaryLUFS);
            ++record->count;
        };
        engine_->onError = [record = record_](const std::exception_ptr& error) {
            const std::lock_guard lock(record->mutex);
            record->errors.push_back(error);
        };
        source->onFormatInfo = [record = record_](const AudioFormatInfo& info) {
            const std::lock_guard lock(record->mutex);
            record->formats.push_back(info);
        };
        engine_->start(source);
    }
    ~EngineProbe() { engine_->stop(); }
    EngineProbe(const EngineProbe&) = delete;
    EngineProbe& operator=(const EngineProbe&) = delete;

    LoudnessSnapshot latest() const { return locked(&Record::latest); }
    double loudestMomentaryLUFS() const { return locked(&Record::loudest); }
    std::vector<std::exception_ptr> errors() const { return locked(&Record::errors); }
    std::vector<AudioFormatInfo> formats() const { return locked(&Record::formats); }

    // Waits until the momentary loudness reads `lufs` within 0.2 LU.
    bool reads(double lufs) const {
        return eventually([&] { return std::abs(latest().momentaryLUFS - lufs) < 0.2; });
    }
    // Waits for `count` more snapshots, which come at least 33 ms apart.
    bool passes(std::size_t count) const {
        const std::size_t target = locked(&Record::count) + count;
        return eventually([&] { return locked(&Record::count) >= target; });
    }
    bool failed() const {
        return eventually([&] { return !errors().empty(); });
    }

private:
    struct Record {
        std::mutex mutex;
        LoudnessSnapshot latest;
        double loudest = -HUGE_VAL;
        std::size_t count = 0;
        std::vector<std::exception_ptr> errors;
        std::vector<AudioFormatInfo> formats;
    };

    template <typename T>
    T locked(T Record::*field) const {
        const std::lock_guard lock(record_->mutex);
        return (*record_).*field;
    }

    std::shared_ptr<Record> record_ = std::make_shared<Record>();
    std::shared_ptr<LoudnessEngine> engine_;
};

}  // namespace orvinta::testing
