#pragma once

#include <atomic>
#include <chrono>
#include <optional>

#include "measurement/loudness_snapshot.h"

namespace orvinta {

// The hand-over of snapshots from the engine's processing queue to the UI thread, bounded to
// one: a snapshot the UI thread has not taken yet is replaced by the next, so a UI thread that
// falls behind shows the newest reading instead of working through a backlog. The putting side
// takes no lock and asks for a post only when no snapshot was waiting.
//
// One thread puts (the processing queue), one thread takes (the UI thread), and every take
// answers exactly one post, so a slot found empty by put() was emptied by the last take.
class SnapshotMailbox {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    struct Delivery {
        LoudnessSnapshot snapshot;
        // When the first of the snapshots this one replaced was handed over: the hand-over
        // delay runs from there, so a slow UI thread shows in it.
        TimePoint handedOverAt;
    };

    SnapshotMailbox() = default;
    ~SnapshotMailbox();
    SnapshotMailbox(const SnapshotMailbox&) = delete;
    SnapshotMailbox& operator=(const SnapshotMailbox&) = delete;

    // Stores a copy of `snapshot`, handed over at `now`; returns true when the taking thread
    // must be asked to take it (no snapshot was waiting).
    bool put(const LoudnessSnapshot& snapshot, TimePoint now);
    // The waiting snapshot, if any.
    std::optional<Delivery> take();

private:
    std::atomic<LoudnessSnapshot*> slot_{nullptr};
    // Written by put() only while the slot was empty, read by take() before it empties the slot.
    std::atomic<TimePoint::rep> handedOverAt_{0};
};

}  // namespace orvinta
