#include "ui/spectrum_canvas_view.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/ui/ui_test_support.h"
#include "ui/theme.h"

namespace orvinta {
namespace {

using test::colorNear;

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
    return test::renderItem(view, kSize);
}

bool curveAt(const QImage& image, double db, const QColor& colour) {
    return colorNear(image, kProbeX, expectedY(db), colour, 1, 40);
}

int countTinted(const QImage& image) {
    return test::countPixels(image, [](const QColor& c) {
        return std::abs(c.red() - c.blue()) > 30 || std::abs(c.green() - c.blue()) > 30;
    });
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

TEST(SpectrumCanvas, EachChannelModeDrawsItsCurvesAndUnevenRowsNoAverage) {
    const struct {
        const char* mode;
        std::size_t rightLength;
        bool left, right, average;
    } cases[] = {
        {"L+R", 192, true, true, true},
        {"L", 192, true, false, false},
        {"R", 192, false, true, false},
        {"L+R", 191, true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mode << " " << c.rightLength);
        const QImage image =
            render({flatRow(-30), flatRow(-64, c.rightLength)}, QString::fromLatin1(c.mode));
        EXPECT_EQ(curveAt(image, -30, Theme::cyan()), c.left);
        EXPECT_EQ(curveAt(image, -64, Theme::pink()), c.right);
        EXPECT_EQ(curveAt(image, -47, Theme::white()), c.average);
    }
    // Mono shows the left curve except in right mode.
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
