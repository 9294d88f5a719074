#include "ui/spectrum_canvas_view.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/ui/ui_test_support.h"
#include "ui/theme.h"

namespace orvinta {
namespace {

using test::colorNear;

// The plot's size in the frequency panel of the dashboard.
const QSize kSpectrumSize(531, 300);
constexpr int kProbeX = 150;  // clear of the frequency grid lines and their labels

// y of a level on the -90 ... 12 dB scale of kSpectrumSize, worked out independently of the view.
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
    return test::renderItem(view, kSpectrumSize);
}

bool curveAt(const QImage& image, double db, const QColor& colour) {
    return colorNear(image, kProbeX, expectedY(db), colour, 1, 40);
}

int countTinted(const QImage& image) {
    return test::countPixels(image, [](const QColor& c) {
        return std::abs(c.red() - c.blue()) > 30 || std::abs(c.green() - c.blue()) > 30;
    });
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

TEST(SpectrumCanvas, UnfilledRowsLieAlongTheBottomAndLoudOnesAlongTheTop) {
    const QImage quiet = render({flatRow(-120.0f)}, QStringLiteral("L"));
    EXPECT_TRUE(colorNear(quiet, kProbeX, kSpectrumSize.height() - 1, Theme::cyan(), 0, 90));
    EXPECT_FALSE(colorNear(quiet, kProbeX, kSpectrumSize.height() - 4, Theme::cyan(), 1, 90));
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
        const int y = static_cast<int>(300.0 - 300.0 * x / kSpectrumSize.width());
        EXPECT_TRUE(colorNear(image, x, y, Theme::cyan(), 1, 60)) << "x " << x;
    }
}

// On screen a repaint puts the grid back only under the curves of the picture it paints over;
// after any run of spectra the window must show exactly what a fresh view of the last one shows,
// at the dashboard's scale and off the pixel grid as well.
TEST(SpectrumCanvas, OnScreenRepaintsLeaveNothingOfEarlierCurves) {
    const auto jagged = [](float centre, float swing) {
        std::vector<float> row(192);
        for (std::size_t i = 0; i < row.size(); ++i) {
            row[i] = centre + swing * static_cast<float>(std::sin(0.37 * static_cast<double>(i)));
        }
        return row;
    };
    const std::vector<std::vector<std::vector<float>>> spectra = {
        {flatRow(-20), flatRow(-20)}, {jagged(-70, 15), jagged(-60, 20)},
        {flatRow(-40), flatRow(-45)}, {jagged(-10, 30), jagged(-10, 30)},
        {flatRow(-95), flatRow(-95)}, {jagged(-50, 8), flatRow(-30)},
        {flatRow(5), jagged(-80, 5)}, {jagged(-35, 25), jagged(-40, 25)},
    };
    for (double scale : {1.0, 0.85}) {
        SCOPED_TRACE(scale);
        const auto shown = test::instrumentWindow("SpectrumCanvasView", kSpectrumSize, scale);
        auto* view = shown->find<SpectrumCanvasView>();
        for (std::size_t step = 0; step < spectra.size(); ++step) {
            SCOPED_TRACE(step);
            view->setSpectrumDB(SpectrumRows(spectra[step]));
            const QImage repainted = shown->grab();
            const auto fresh = test::instrumentWindow("SpectrumCanvasView", kSpectrumSize, scale);
            fresh->find<SpectrumCanvasView>()->setSpectrumDB(SpectrumRows(spectra[step]));
            EXPECT_EQ(test::differingPixels(repainted, fresh->grab()), 0);
        }
    }
}

}  // namespace
}  // namespace orvinta
