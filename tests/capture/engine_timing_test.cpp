#include "capture/engine_timing.h"

#include <gtest/gtest.h>

#include <limits>

namespace orvinta::engine_timing {
namespace {

TEST(EngineTiming, AStallMustExceedNinetyMilliseconds) {
    EXPECT_FALSE(isStalled(0.0));
    EXPECT_FALSE(isStalled(90.0));
    EXPECT_TRUE(isStalled(90.000001));
    EXPECT_TRUE(isStalled(91.0));
    EXPECT_TRUE(isStalled(std::numeric_limits<double>::infinity()));
}

TEST(EngineTiming, SilenceCoversTheGapUpToHalfASecond) {
    EXPECT_EQ(silenceFrameCount(50.0), 2400);
    EXPECT_EQ(silenceFrameCount(91.0), 4368);
    EXPECT_EQ(silenceFrameCount(100.0), 4800);
    // Truncated, but never less than one frame for a positive gap.
    EXPECT_EQ(silenceFrameCount(0.0001), 1);
    EXPECT_EQ(silenceFrameCount(10.99), 527);
    // A long pause is filled half a second at a time.
    EXPECT_EQ(silenceFrameCount(7000.0), 24000);
    // Nothing for no time, time running backwards or a broken reading.
    EXPECT_EQ(silenceFrameCount(0.0), 0);
    EXPECT_EQ(silenceFrameCount(-3.0), 0);
    EXPECT_EQ(silenceFrameCount(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(EngineTiming, BufferRateIsRoundedAndWrittenWithOneDecimalAtLeast) {
    EXPECT_EQ(formatBufferRate(94, 2004.0), "46.9");
    EXPECT_EQ(formatBufferRate(5, 0.0), "0.0");
    // Halves go away from zero: 0.25 buffers/s reads 0.3, 0.75 reads 0.8.
    EXPECT_EQ(formatBufferRate(1, 4000.0), "0.3");
    EXPECT_EQ(formatBufferRate(3, 4000.0), "0.8");
    EXPECT_EQ(formatBufferRate(2000, 2000.0), "1000.0");
}

TEST(EngineTiming, ThroughputLineReadsAsDocumented) {
    ThroughputWindow window;
    window.buffers = 86;
    window.frames = 95'232;
    window.sumQueueDelayMs = 86 * 0.04;
    window.maxQueueDelayMs = 0.25;
    window.sumProcessMs = 86 * 0.125;
    window.maxProcessMs = 1.5;
    EXPECT_EQ(throughputLine(window, 2000.9),
              "[Tessaro] throughput: 86 buffers / 95232 frames over 2000 ms (avg 43.0 buffers/s) "
              "- queueDelay avg=0.0ms max=0.2ms, process avg=0.12ms max=1.50ms");
    EXPECT_EQ(throughputLine(ThroughputWindow{}, 2010.0),
              "[Tessaro] throughput: 0 buffers / 0 frames over 2010 ms (avg 0.0 buffers/s) - "
              "queueDelay avg=0.0ms max=0.0ms, process avg=0.00ms max=0.00ms");
}

}  // namespace
}  // namespace orvinta::engine_timing
