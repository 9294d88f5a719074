#include "measurement/ring_buffer.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <numeric>
#include <optional>
#include <span>
#include <vector>

namespace orvinta {
namespace {

// The ring written sample by sample, as its contract describes it.
struct ModelRing {
    std::vector<float> storage;
    std::size_t writeIndex = 0;
    std::size_t count = 0;

    explicit ModelRing(std::size_t capacity) : storage(capacity, 0.0f) {}

    void write(std::span<const float> samples) {
        for (const float s : samples) {
            storage[writeIndex] = s;
            writeIndex = (writeIndex + 1) % storage.size();
            if (count < storage.size()) {
                ++count;
            }
        }
    }

    std::vector<float> last(std::size_t n) const {
        std::vector<float> result;
        std::size_t index = (writeIndex + storage.size() - n) % storage.size();
        for (std::size_t k = 0; k < n; ++k) {
            result.push_back(storage[index]);
            index = (index + 1) % storage.size();
        }
        return result;
    }
};

std::vector<float> ramp(std::size_t frames, float first = 1.0f) {
    std::vector<float> samples(frames);
    std::iota(samples.begin(), samples.end(), first);
    return samples;
}

std::vector<float> joined(const RingBuffer::Segments& segments) {
    std::vector<float> result(segments.older.begin(), segments.older.end());
    result.insert(result.end(), segments.newer.begin(), segments.newer.end());
    return result;
}

TEST(RingBuffer, RefusesReadsItCannotServe) {
    RingBuffer ring(8);
    ring.write(ramp(5));
    for (const int n : {-1, 0, 6, 9}) {
        EXPECT_FALSE(ring.readLast(n).has_value()) << n;
        EXPECT_FALSE(ring.viewLast(n).has_value()) << n;
    }
    ring.write(ramp(10));
    EXPECT_TRUE(ring.readLast(8).has_value());
    EXPECT_FALSE(ring.readLast(9).has_value());

    RingBuffer degenerate(0);
    EXPECT_EQ(degenerate.capacity(), 1);
    degenerate.write(ramp(3));
    EXPECT_EQ(degenerate.readLast(1), (std::vector<float>{3}));
}

TEST(RingBuffer, ContentsDoNotDependOnHowTheWritesAreCut) {
    const std::vector<float> input = ramp(400000);
    for (const std::size_t capacity : {std::size_t{144000}, std::size_t{1000}}) {
        for (const std::size_t piece : {1u, 127u, 1024u, 4095u, 4801u}) {
            RingBuffer ring(static_cast<int>(capacity));
            ModelRing model(capacity);
            for (std::size_t start = 0; start < input.size(); start += piece) {
                const std::span<const float> chunk = std::span<const float>(input).subspan(
                    start, std::min(piece, input.size() - start));
                ring.write(chunk);
                model.write(chunk);
                // Check now and then, including while the ring is still filling.
                if (start % 20000 < piece) {
                    ASSERT_EQ(ring.count(), static_cast<int>(model.count));
                    ASSERT_EQ(ring.writeIndex(), static_cast<int>(model.writeIndex));
                    const std::size_t n = std::min<std::size_t>(model.count, 4800);
                    ASSERT_EQ(ring.readLast(static_cast<int>(n)), model.last(n))
                        << "capacity " << capacity << ", pieces of " << piece;
                    ASSERT_EQ(joined(*ring.viewLast(static_cast<int>(n))), model.last(n));
                }
            }
            EXPECT_EQ(ring.readLast(static_cast<int>(capacity)), model.last(capacity));
        }
    }
}

}  // namespace
}  // namespace orvinta
