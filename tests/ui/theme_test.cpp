#include "ui/theme.h"

#include <gtest/gtest.h>

#include <limits>

#include "tests/ui/ui_test_support.h"

namespace orvinta {
namespace {

using test::distance;

QColor rgb(double r, double g, double b) {
    return QColor::fromRgbF(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b));
}

const QColor kBlueGreen = rgb(0.00, 0.70, 0.82);
const QColor kGreen = rgb(0.28, 0.76, 0.05);
const QColor kYellow = rgb(0.98, 0.82, 0.10);
const QColor kRed = rgb(0.95, 0.20, 0.16);

TEST(Theme, SegmentPaletteSwitchesJustAboveEachThreshold) {
    const std::pair<double, QColor> cases[] = {
        {0.0, kBlueGreen}, {0.65, kBlueGreen}, {0.66, kGreen}, {0.80, kGreen},
        {0.81, kYellow},   {0.92, kYellow},    {0.93, kRed}};
    for (const auto& [position, colour] : cases) {
        EXPECT_EQ(segmentPaletteColor(position), colour) << position;
    }
}

TEST(Theme, LoudnessRampHitsItsStopsInterpolatesBetweenThemAndClamps) {
    const std::pair<double, QColor> cases[] = {{0.0, kBlueGreen},
                                               {0.3, kBlueGreen},
                                               {0.65, kBlueGreen},
                                               {0.80, kGreen},
                                               {0.92, kYellow},
                                               {1.0, kRed},
                                               {0.725, rgb(0.14, 0.73, 0.435)},
                                               {0.86, rgb(0.63, 0.79, 0.075)},
                                               {0.96, rgb(0.965, 0.51, 0.13)}};
    for (const auto& [position, colour] : cases) {
        EXPECT_LE(distance(loudnessRampColor(position), colour), 1) << position;
    }
    EXPECT_EQ(loudnessRampColor(3.0), loudnessRampColor(1.0));
    EXPECT_EQ(loudnessRampColor(-1.0), loudnessRampColor(0.0));
    EXPECT_EQ(loudnessRampColor(std::numeric_limits<double>::quiet_NaN()), loudnessRampColor(0.0));
}

TEST(Theme, MissingValuesReadAsAnEmDash) {
    EXPECT_EQ(Theme::formatValue(-23.04), QStringLiteral("-23.0"));
    EXPECT_EQ(Theme::formatValue(-std::numeric_limits<double>::infinity()),
              QStringLiteral("\u2014"));
    EXPECT_EQ(Theme::formatValue(std::numeric_limits<double>::quiet_NaN()),
              QStringLiteral("\u2014"));
}

TEST(Theme, FontsAreDejaVuAtTheirSizeInCanvasPoints) {
    const QFont bold = Theme::monoFont(28, Theme::Weight::Bold);
    EXPECT_EQ(bold.pixelSize(), 28);
    EXPECT_EQ(bold.weight(), QFont::Bold);
    EXPECT_EQ(QFontInfo(bold).family(), QStringLiteral("DejaVu Sans Mono"));
    EXPECT_EQ(QFontInfo(Theme::font(13)).family(), QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(Theme::font(14, Theme::Weight::Medium).weight(), QFont::Normal);
}

}  // namespace
}  // namespace orvinta
