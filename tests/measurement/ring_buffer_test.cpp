#include "measurement/ring_buffer.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <numeric>
#include <span>
#include <vector>

namespace orvinta {
namespace {

std::vector<float> ramp(std::size_t frames) {
    std::vector<float> samples(frames);
    std::iota(samples.begin(), samples.end(), 1.0f);
    return samples;
}

// Reads that the ring can serve are pinned through the loudness analyzer, which reads its newest
// hop after buffers of every size; the analyzer never asks for one it cannot serve.
TEST(RingBuffer, RefusesReadsItCannotServe) {
    RingBuffer ring(8);
    ring.write(ramp(5));
    for (const int n : {-1, 0, 6, 9}) {
        EXPECT_FALSE(ring.readLast(n).has_value()) << n;
        EXPECT_FALSE(ring.viewLast(n).has_value()) << n;
    }
    ring.write(ramp(10));
    EXPECT_EQ(ring.readLast(3), (std::vector<float>{8, 9, 10}));
    EXPECT_TRUE(ring.readLast(8).has_value());
    EXPECT_FALSE(ring.readLast(9).has_value());

    RingBuffer degenerate(0);
    EXPECT_EQ(degenerate.capacity(), 1);
    degenerate.write(ramp(3));
    EXPECT_EQ(degenerate.readLast(1), (std::vector<float>{3}));
}

}  // namespace
}  // namespace orvinta
