#include "measurement/ring_buffer.h"

#include <algorithm>
#include <cstddef>

namespace orvinta {

RingBuffer::RingBuffer(int capacity) : storage(static_cast<std::size_t>(std::max(capacity, 1))) {}

void RingBuffer::write(std::span<const float> samples) {
    const std::size_t capacitySamples = storage.size();
    // Of a list longer than the ring only its tail survives; the write position still moves
    // on by the full length, as if every sample had been stored in turn.
    const std::size_t total = samples.size();
    const std::size_t kept = std::min(total, capacitySamples);
    std::size_t index = (static_cast<std::size_t>(nextIndex) + (total - kept)) % capacitySamples;
    std::span<const float> tail = samples.last(kept);

    const std::size_t firstPart = std::min(kept, capacitySamples - index);
    std::copy(tail.begin(), tail.begin() + static_cast<std::ptrdiff_t>(firstPart),
              storage.begin() + static_cast<std::ptrdiff_t>(index));
    std::copy(tail.begin() + static_cast<std::ptrdiff_t>(firstPart), tail.end(), storage.begin());
    index = (index + kept) % capacitySamples;

    nextIndex = static_cast<int>(index);
    validCount =
        static_cast<int>(std::min(static_cast<std::size_t>(validCount) + total, capacitySamples));
}

std::optional<RingBuffer::Segments> RingBuffer::viewLast(int n) const {
    if (n < 1 || n > capacity() || n > validCount) {
        return std::nullopt;
    }
    const std::size_t length = static_cast<std::size_t>(n);
    const std::size_t capacitySamples = storage.size();
    const std::size_t start =
        (static_cast<std::size_t>(nextIndex) + capacitySamples - length) % capacitySamples;
    const std::span<const float> all(storage);
    if (start + length <= capacitySamples) {
        return Segments{all.subspan(start, length), {}};
    }
    const std::size_t firstPart = capacitySamples - start;
    return Segments{all.subspan(start), all.first(length - firstPart)};
}

std::optional<std::vector<float>> RingBuffer::readLast(int n) const {
    const std::optional<Segments> segments = viewLast(n);
    if (!segments) {
        return std::nullopt;
    }
    std::vector<float> result;
    result.reserve(static_cast<std::size_t>(n));
    result.insert(result.end(), segments->older.begin(), segments->older.end());
    result.insert(result.end(), segments->newer.begin(), segments->newer.end());
    return result;
}

}  // namespace orvinta
