#pragma once

#include <QObject>

#include <functional>

namespace orvinta {

// Ticks the held peaks of the level bars: one timer for every tick interval in use, so that the
// peaks of all bars fall at the same instant and their repaints share one frame, instead of each
// bar waking the UI thread on its own phase. A receiver has at most one subscription, dropped
// when it is destroyed. UI thread only.
class PeakHoldDriver {
public:
    // Calls tick every intervalMs (at least 1) until unsubscribed, replacing the receiver's
    // previous subscription.
    static void subscribe(QObject* receiver, int intervalMs, std::function<void()> tick);
    static void unsubscribe(QObject* receiver);
};

}  // namespace orvinta
