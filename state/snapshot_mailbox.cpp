#include "state/snapshot_mailbox.h"

#include <memory>
#include <utility>

namespace orvinta {

SnapshotMailbox::~SnapshotMailbox() {
    delete slot_.load(std::memory_order_acquire);
}

bool SnapshotMailbox::put(const LoudnessSnapshot& snapshot, TimePoint now) {
    auto* fresh = new LoudnessSnapshot(snapshot);
    // acq_rel: the taker sees the snapshot's contents, and this side sees that the taker has
    // read handedOverAt_ before the slot became empty.
    std::unique_ptr<LoudnessSnapshot> replaced(slot_.exchange(fresh, std::memory_order_acq_rel));
    if (replaced) {
        return false;
    }
    // No take can run before the post this return asks for, which orders this store before it.
    handedOverAt_.store(now.time_since_epoch().count(), std::memory_order_relaxed);
    return true;
}

std::optional<SnapshotMailbox::Delivery> SnapshotMailbox::take() {
    const TimePoint handedOverAt{
        TimePoint::duration(handedOverAt_.load(std::memory_order_relaxed))};
    std::unique_ptr<LoudnessSnapshot> taken(slot_.exchange(nullptr, std::memory_order_acq_rel));
    if (!taken) {
        return std::nullopt;
    }
    return Delivery{std::move(*taken), handedOverAt};
}

}  // namespace orvinta
