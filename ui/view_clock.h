#pragma once

#include <functional>

namespace orvinta {

// Monotonic time in seconds for the instruments' view-local state (peak-hold tickers). Reads a
// steady clock unless a replacement source is installed, which lets tests move time by hand
// instead of waiting. UI thread only.
class ViewClock {
public:
    using Source = std::function<double()>;

    static double now();
    // Installs a replacement time source; an empty function restores the steady clock.
    static void setSource(Source source);
};

}  // namespace orvinta
