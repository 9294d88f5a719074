#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace orvinta {

// The newest `capacity` block powers of a measurement, oldest first, always readable as one
// contiguous list. The loudness analyzer keeps two of them (momentary blocks and short-term
// windows) on the engine's processing queue. All memory is reserved at construction, so
// appending never allocates.
class PowerHistory {
public:
    explicit PowerHistory(std::size_t capacity);

    // Appends one value; once the history holds `capacity` values the oldest one is dropped.
    void append(double power);
    void clear();

    std::span<const double> values() const;
    std::size_t size() const { return storage.size() - start; }
    std::size_t capacity() const { return maxValues; }

private:
    // The live values are storage[start, end). Dropping the oldest value only moves `start`;
    // when the storage reaches twice the capacity the live values move back to the front, so
    // each append costs constant time on average.
    std::vector<double> storage;
    std::size_t start = 0;
    std::size_t maxValues;
};

}  // namespace orvinta
