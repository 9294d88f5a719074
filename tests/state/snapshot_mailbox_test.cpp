#include "state/snapshot_mailbox.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace orvinta {
namespace {

using namespace std::chrono_literals;

TEST(SnapshotMailbox, ATakerThatFallsBehindGetsOnlyTheNewestTimedFromTheFirst) {
    SnapshotMailbox mailbox;
    const auto t0 = std::chrono::steady_clock::time_point() + 1s;
    std::vector<bool> postsAsked;
    std::thread processingQueue([&] {
        LoudnessSnapshot snapshot;
        for (int i = 1; i <= 5; ++i) {
            snapshot.momentaryLUFS = -i;
            postsAsked.push_back(mailbox.put(snapshot, t0 + i * 10ms));
        }
    });
    processingQueue.join();
    EXPECT_EQ(postsAsked, (std::vector<bool>{true, false, false, false, false}));

    const auto delivery = mailbox.take();
    ASSERT_TRUE(delivery.has_value());
    EXPECT_EQ(delivery->snapshot.momentaryLUFS, -5.0);
    EXPECT_EQ(delivery->handedOverAt, t0 + 10ms);
    EXPECT_FALSE(mailbox.take().has_value());
    EXPECT_TRUE(mailbox.put(LoudnessSnapshot(), t0 + 90ms));
}

}  // namespace
}  // namespace orvinta
