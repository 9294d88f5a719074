#pragma once

#include <chrono>
#include <thread>

namespace orvinta::testing {

// Polls `condition` every `interval` until it holds (true) or `timeout` has passed (false);
// tests wait with this instead of sleeping and then asserting.
template <typename Condition>
bool eventually(Condition&& condition, std::chrono::milliseconds timeout = std::chrono::seconds(10),
                std::chrono::milliseconds interval = std::chrono::milliseconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(interval);
    }
    return true;
}

}  // namespace orvinta::testing
