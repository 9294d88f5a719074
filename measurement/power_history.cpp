#include "measurement/power_history.h"

#include <algorithm>

namespace orvinta {

PowerHistory::PowerHistory(std::size_t capacity) : maxValues(std::max<std::size_t>(capacity, 1)) {
    storage.reserve(2 * maxValues);
}

void PowerHistory::append(double power) {
    if (storage.size() == storage.capacity()) {
        storage.erase(storage.begin(), storage.begin() + static_cast<std::ptrdiff_t>(start));
        start = 0;
    }
    storage.push_back(power);
    if (storage.size() - start > maxValues) {
        ++start;
    }
}

void PowerHistory::clear() {
    storage.clear();
    start = 0;
}

std::span<const double> PowerHistory::values() const {
    return std::span<const double>(storage).subspan(start);
}

}  // namespace orvinta
