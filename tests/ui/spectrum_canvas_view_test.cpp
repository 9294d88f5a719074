#include "ui/spectrum_canvas_view.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/ui/analyzer_pixels.h"
#include "ui/theme.h"

namespace orvinta {
namespace {

using test::colorNear;
using test::renderItem;

// The plot's size in the frequency panel of the dashboard.
const QSize kSize(531, 300);
constexpr int kProbeX = 150;  // clear of the frequency grid lines and their labels

// y of a level on the -90 ... 12 dB scale of kSize, worked out independently of the view.
int expectedY(double db) {
    return static_cast<int>((12.0 - db) / 102.0 * 300.0);
}

std::vector<float> flatRow(float db, std::size_t n = 192) {
    return std::vector<float>(n, db);
}

QImage render(std::vector<std::vector<float>> rows, const QString& mode) {
    SpectrumCanvasView view;
    view.setMode(mode);
    view.setSpectrumDB(SpectrumRows(std::move(rows)));
    return renderItem(view, kSize);
}

bool curveAt(const QImage& image, double db, const QColor& colour) {
    return colorNear(image, kProbeX, expectedY(db), colour, 1, 40);
}

int countTinted(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += std::abs(c.red() - c.blue()) > 30 || std::abs(c.green() - c.blue()) > 30;
        }
    }
    return count;
}

TEST(SpectrumMath, FrequencyAxisIsLogarithmicFromTwentyHertzToTwentyKilohertz) {
    EXPECT_DOUBLE_EQ(spectrumX(20.0, 600.0), 0.0);
    EXPECT_NEAR(spectrumX(20000.0, 600.0), 600.0, 1e-9);
    EXPECT_NEAR(spectrumX(200.0, 600.0), 200.0, 1e-9);
    EXPECT_NEAR(spectrumX(std::sqrt(20.0 * 20000.0), 600.0), 300.0, 1e-9);
    EXPECT_DOUBLE_EQ(spectrumX(10.0, 600.0), 0.0);
    EXPECT_DOUBLE_EQ(spectrumX(0.0, 600.0), 0.0);
    EXPECT_DOUBLE_EQ(spectrumX(40000.0, 600.0), 600.0);
}

TEST(SpectrumMath, LevelsMapLinearlyAndClampAtBothEdges) {
    EXPECT_DOUBLE_EQ(spectrumY(12.0f, -90.0f, 12.0f, 300.0), 0.0);
    EXPECT_DOUBLE_EQ(spectrumY(-90.0f, -90.0f, 12.0f, 300.0), 300.0);
    EXPECT_DOUBLE_EQ(spectrumY(-120.0f, -90.0f, 12.0f, 300.0), 300.0);
    EXPECT_DOUBLE_EQ(spectrumY(40.0f, -90.0f, 12.0f, 300.0), 0.0);
    EXPECT_NEAR(spectrumY(-39.0f, -90.0f, 12.0f, 300.0), 150.0, 1e-4);
    EXPECT_DOUBLE_EQ(spectrumY(std::nanf(""), -90.0f, 12.0f, 300.0), 300.0);
}

TEST(SpectrumMath, GridLevelsAndLabels) {
    EXPECT_EQ(spectrumGridLevels(-90.0f, 12.0f),
              (std::vector<float>{12, 0, -12, -24, -36, -48, -60, -72, -84}));
    EXPECT_TRUE(spectrumGridLevels(-INFINITY, 12.0f).empty());
    EXPECT_EQ(spectrumLevelLabel(12.0f), QStringLiteral("12"));
    EXPECT_EQ(spectrumLevelLabel(0.0f), QStringLiteral("0"));
    EXPECT_EQ(spectrumLevelLabel(-84.0f), QStringLiteral("-84"));
    QStringList labels;
    for (double f : {20.0, 50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 20000.0}) {
        labels << spectrumFrequencyLabel(f);
    }
    EXPECT_EQ(labels.join(QLatin1Char(' ')), QStringLiteral("20 50 100 200 500 1k 2k 5k 10k 20k"));
}

TEST(SpectrumMath, ChannelModesSelectTheirCurves) {
    const std::vector<std::vector<float>> stereo = {flatRow(-30), flatRow(-60)};
    const std::vector<std::vector<float>> mono = {flatRow(-30)};
    const std::vector<std::vector<float>> uneven = {flatRow(-30, 192), flatRow(-60, 191)};
    auto pick = [](ChannelMode m, const std::vector<std::vector<float>>& rows) {
        const SpectrumCurveSelection s = spectrumCurvesToDraw(m, rows);
        return std::array<bool, 3>{s.left, s.right, s.average};
    };
    using Curves = std::array<bool, 3>;
    EXPECT_EQ(pick(ChannelMode::both, stereo), (Curves{true, true, true}));
    EXPECT_EQ(pick(ChannelMode::left, stereo), (Curves{true, false, false}));
    EXPECT_EQ(pick(ChannelMode::right, stereo), (Curves{false, true, false}));
    EXPECT_EQ(pick(ChannelMode::both, mono), (Curves{true, false, false}));
    EXPECT_EQ(pick(ChannelMode::left, mono), (Curves{true, false, false}));
    EXPECT_EQ(pick(ChannelMode::right, mono), (Curves{false, false, false}));
    EXPECT_EQ(pick(ChannelMode::both, uneven), (Curves{true, true, false}));
    EXPECT_EQ(pick(ChannelMode::both, {}), (Curves{false, false, false}));
    EXPECT_EQ(pick(ChannelMode::both, {{}, flatRow(-60)}), (Curves{false, true, false}));
}

TEST(SpectrumMath, AverageIsOfTheDecibelValuesAndNeedsEqualLengths) {
    EXPECT_EQ(spectrumAverage({-10.0f, -20.0f}, {-30.0f, 0.0f}),
              (std::vector<float>{-20.0f, -10.0f}));
    EXPECT_FALSE(spectrumAverage(flatRow(-10, 192), flatRow(-10, 191)).has_value());
}

TEST(SpectrumMath, CurveSpreadsTheBinsEvenlyAcrossTheWidth) {
    const QPolygonF curve = spectrumCurve({0.0f, -90.0f, 12.0f}, -90.0f, 12.0f, QSizeF(200, 102));
    ASSERT_EQ(curve.size(), 3);
    const QPointF expected[] = {{0.0, 12.0}, {100.0, 102.0}, {200.0, 0.0}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(curve[i].x(), expected[i].x());
        EXPECT_NEAR(curve[i].y(), expected[i].y(), 1e-4);  // the level is scaled in float
    }
    EXPECT_EQ(spectrumCurve({-6.0f}, -90.0f, 12.0f, QSizeF(200, 102))[0].x(), 0.0);
}

TEST(SpectrumCanvas, BothModeDrawsLeftRightAndTheirAverage) {
    const QImage image = render({flatRow(-30), flatRow(-64)}, QStringLiteral("L+R"));
    EXPECT_TRUE(curveAt(image, -30, Theme::cyan()));
    EXPECT_TRUE(curveAt(image, -64, Theme::pink()));
    EXPECT_TRUE(curveAt(image, -47, Theme::white()));
}

TEST(SpectrumCanvas, LeftAndRightModesDrawOneCurveEach) {
    const QImage left = render({flatRow(-30), flatRow(-64)}, QStringLiteral("L"));
    EXPECT_TRUE(curveAt(left, -30, Theme::cyan()));
    EXPECT_FALSE(curveAt(left, -64, Theme::pink()));
    EXPECT_FALSE(curveAt(left, -47, Theme::white()));
    const QImage right = render({flatRow(-30), flatRow(-64)}, QStringLiteral("R"));
    EXPECT_FALSE(curveAt(right, -30, Theme::cyan()));
    EXPECT_TRUE(curveAt(right, -64, Theme::pink()));
    EXPECT_FALSE(curveAt(right, -47, Theme::white()));
}

TEST(SpectrumCanvas, RowsOfDifferentLengthsDrawNoAverage) {
    const QImage image = render({flatRow(-30, 192), flatRow(-64, 191)}, QStringLiteral("L+R"));
    EXPECT_TRUE(curveAt(image, -30, Theme::cyan()));
    EXPECT_TRUE(curveAt(image, -64, Theme::pink()));
    EXPECT_FALSE(curveAt(image, -47, Theme::white()));
}

TEST(SpectrumCanvas, MonoShowsTheLeftCurveExceptInRightMode) {
    EXPECT_TRUE(curveAt(render({flatRow(-30)}, QStringLiteral("L+R")), -30, Theme::cyan()));
    EXPECT_EQ(countTinted(render({flatRow(-30)}, QStringLiteral("R"))), 0);
}

TEST(SpectrumCanvas, NoRowsShowOnlyTheGrids) {
    const QImage image = render({}, QStringLiteral("L+R"));
    EXPECT_EQ(countTinted(image), 0);
    // The 0 dB line is brighter than the -12 dB line.
    const QColor zero = image.pixelColor(kProbeX, expectedY(0));
    const QColor minus12 = image.pixelColor(kProbeX, expectedY(-12));
    const QColor plain = image.pixelColor(kProbeX, expectedY(-6));
    EXPECT_GT(zero.red(), minus12.red());
    EXPECT_GT(minus12.red(), plain.red());
    // The 1 kHz line, at ln(50)/ln(1000) of the width.
    const int x1k = static_cast<int>(std::log(50.0) / std::log(1000.0) * kSize.width());
    EXPECT_GT(
        image.pixelColor(x1k, expectedY(-6)).red() + image.pixelColor(x1k - 1, expectedY(-6)).red(),
        2 * plain.red());
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
}

TEST(SpectrumCanvas, UnfilledRowsLieAlongTheBottomAndLoudOnesAlongTheTop) {
    const QImage quiet = render({flatRow(-120.0f)}, QStringLiteral("L"));
    EXPECT_TRUE(colorNear(quiet, kProbeX, kSize.height() - 1, Theme::cyan(), 0, 90));
    EXPECT_FALSE(colorNear(quiet, kProbeX, kSize.height() - 4, Theme::cyan(), 1, 90));
    const QImage loud = render({flatRow(30.0f)}, QStringLiteral("L"));
    EXPECT_TRUE(colorNear(loud, kProbeX, 0, Theme::cyan(), 0, 90));
    EXPECT_FALSE(colorNear(loud, kProbeX, 3, Theme::cyan(), 1, 90));
}

TEST(SpectrumCanvas, FollowsTheRowsBinByBin) {
    // A rising row: bin i at -90 + i * 102 / 191 dB reaches the top at the last bin, so the
    // curve is the plot's diagonal.
    std::vector<float> ramp(192);
    for (std::size_t i = 0; i < ramp.size(); ++i) {
        ramp[i] = -90.0f + static_cast<float>(i) * 102.0f / 191.0f;
    }
    const QImage image = render({ramp}, QStringLiteral("L"));
    for (int x : {60, 265, 470}) {
        const int y = static_cast<int>(300.0 - 300.0 * x / kSize.width());
        EXPECT_TRUE(colorNear(image, x, y, Theme::cyan(), 1, 60)) << "x " << x;
    }
}

}  // namespace
}  // namespace orvinta
