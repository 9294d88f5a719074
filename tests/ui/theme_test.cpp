#include "ui/theme.h"

#include <gtest/gtest.h>

#include <limits>

#include "tests/ui/ui_test_support.h"

namespace orvinta {
namespace {

QColor rgb(float r, float g, float b) {
    return QColor::fromRgbF(r, g, b);
}

TEST(Theme, LoudnessRampInterpolatesBetweenItsStopsAndClamps) {
    // Halfway between neighbouring stops lies the mean of their colours.
    const std::pair<double, QColor> cases[] = {{0.725, rgb(0.14, 0.73, 0.435)},
                                               {0.86, rgb(0.63, 0.79, 0.075)},
                                               {0.96, rgb(0.965, 0.51, 0.13)}};
    for (const auto& [position, colour] : cases) {
        EXPECT_LE(test::distance(loudnessRampColor(position), colour), 1) << position;
    }
    EXPECT_EQ(loudnessRampColor(3.0), loudnessRampColor(1.0));
    EXPECT_EQ(loudnessRampColor(std::numeric_limits<double>::quiet_NaN()), loudnessRampColor(0.0));
}

}  // namespace
}  // namespace orvinta
