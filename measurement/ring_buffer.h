#pragma once

#include <optional>
#include <span>
#include <vector>

namespace orvinta {

// A fixed-capacity ring of float samples that keeps the newest `capacity` samples written.
// The loudness analyzer keeps one per channel (K-weighted samples, 3 s) on the engine's
// processing queue; no locking. Storage is allocated once at construction.
class RingBuffer {
public:
    // The newest samples of the ring as at most two contiguous pieces, in time order:
    // `older` first, then `newer` (empty when the samples do not wrap around the end).
    struct Segments {
        std::span<const float> older;
        std::span<const float> newer;
    };

    // A capacity below 1 is taken as 1.
    explicit RingBuffer(int capacity);

    // Appends the samples in order, overwriting the oldest ones once the ring is full.
    void write(std::span<const float> samples);

    // The newest n samples, oldest first, as a new list; nothing when n is below 1, above the
    // capacity or above count().
    std::optional<std::vector<float>> readLast(int n) const;

    // The same samples as readLast(n) without copying them; valid until the next write.
    std::optional<Segments> viewLast(int n) const;

    // Number of valid samples, at most capacity().
    int count() const { return validCount; }
    int capacity() const { return static_cast<int>(storage.size()); }
    // Index of the slot the next sample goes to.
    int writeIndex() const { return nextIndex; }

private:
    std::vector<float> storage;
    int nextIndex = 0;
    int validCount = 0;
};

}  // namespace orvinta
