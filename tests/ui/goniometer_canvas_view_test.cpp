#include "ui/goniometer_canvas_view.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/ui/ui_test_support.h"
#include "ui/theme.h"

namespace orvinta {
namespace {

using test::distance;
using test::over;

// The goniometer's size in the phase panel of the dashboard.
const QSize kGoniometerSize(158, 158);
// Its rim radius, worked out by hand: 90 % of half the side.
constexpr double kRim = 158.0 / 2.0 * 0.9;
constexpr double kCentre = 79.0;

// A goniometer point from one left/right sample pair: x = (R - L)/sqrt 2, y = (L + R)/sqrt 2.
GoniometerPoint fromSamples(double left, double right) {
    return {static_cast<float>((right - left) / std::sqrt(2.0)),
            static_cast<float>((left + right) / std::sqrt(2.0))};
}

// Pixels tinted towards cyan: the dots are the only such colour on the canvas.
int countCyanPixels(const QImage& image) {
    return test::countPixels(image, [](const QColor& c) { return c.blue() - c.red() > 30; });
}

QColor dotColour(double opacity) {
    QColor cyan = Theme::cyan();
    cyan.setAlphaF(static_cast<float>(opacity));
    return over(cyan, Theme::canvasBackground());
}

QImage render(std::vector<GoniometerPoint> points, QSize size = kGoniometerSize) {
    GoniometerCanvasView view;
    view.setPoints(GoniometerPointList(std::move(points)));
    return test::renderItem(view, size);
}

TEST(GoniometerCanvas, DotsLandWhereTheMappingPutsThemAndFadeWithAge) {
    // A left-only sample at half scale sits halfway out along the L diagonal.
    const QImage image = render({fromSamples(0.5, 0.0)});
    const double x = kCentre - kRim * 0.5 * std::sqrt(0.5);
    const double y = kCentre - kRim * 0.5 * std::sqrt(0.5);
    // The lone dot is the newest one: cyan at 0.85 over the panel at its centre pixel.
    EXPECT_LE(distance(image.pixelColor(static_cast<int>(x), static_cast<int>(y)), dotColour(0.85)),
              40);
    // A diameter-2 dot covers only a few pixels, all around that spot.
    const int cyan = countCyanPixels(image);
    EXPECT_GE(cyan, 1);
    EXPECT_LE(cyan, 9);

    // Two dots: the oldest at the upper right is fainter than the newest at the lower left.
    const QImage two = render({{0.5f, 0.5f}, {-0.5f, -0.5f}});
    const QColor oldest = test::at(two, kCentre + kRim * 0.5, kCentre - kRim * 0.5);
    const QColor newest = test::at(two, kCentre - kRim * 0.5, kCentre + kRim * 0.5);
    EXPECT_LE(distance(oldest, dotColour(0.30)), 30);
    EXPECT_LE(distance(newest, dotColour(0.85)), 40);
    EXPECT_GT(newest.green(), oldest.green() + 40);
}

// The canvas blits pre-rendered dots; they must look like the circles QPainter itself draws
// at the same sub-pixel centres, also on a screen with two device pixels per point.
TEST(GoniometerCanvas, DotsMatchAntialiasedCirclesAtTheirSubPixelCentres) {
    const std::vector<GoniometerPoint> points = {
        {0.113f, 0.271f}, {-0.402f, 0.058f}, {0.337f, -0.519f}, {-0.05f, -0.21f}};
    for (double scale : {1.0, 2.0}) {
        auto renderAt = [scale](std::vector<GoniometerPoint> pts, bool referenceDots) {
            GoniometerCanvasView view;
            view.setSize(QSizeF(kGoniometerSize));
            QImage image(kGoniometerSize * scale, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(scale);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            view.setPoints(
                GoniometerPointList(referenceDots ? std::vector<GoniometerPoint>{} : pts));
            view.paint(&painter);
            if (referenceDots) {
                painter.setRenderHint(QPainter::Antialiasing);
                painter.setPen(Qt::NoPen);
                for (std::size_t k = 0; k < pts.size(); ++k) {
                    painter.setBrush(
                        Theme::withAlpha(Theme::cyan(), goniometerDotOpacity(k, pts.size())));
                    painter.drawEllipse(goniometerPosition(pts[k], QSizeF(kGoniometerSize)), 1.0,
                                        1.0);
                }
            }
            return image;
        };
        const QImage ours = renderAt(points, false);
        const QImage reference = renderAt(points, true);
        int differing = 0;
        int worst = 0;
        for (int y = 0; y < ours.height(); ++y) {
            for (int x = 0; x < ours.width(); ++x) {
                const int d = distance(ours.pixelColor(x, y), reference.pixelColor(x, y));
                worst = std::max(worst, d);
                differing += d > 8;
            }
        }
        EXPECT_LE(worst, 48) << "scale " << scale;
        EXPECT_LE(differing, static_cast<int>(12 * scale * scale)) << "scale " << scale;
    }
}

TEST(GoniometerCanvas, PointsBeyondTheRimAreNotClampedBadOnesSkippedAndCornersClipped) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const QImage image = render({{nan, 0.0f}, {inf, 1.0f}, {0.0f, 1.05f}});
    const int x = static_cast<int>(kCentre);
    const int y = static_cast<int>(kCentre - kRim * 1.05);
    EXPECT_LE(distance(image.pixelColor(x, y), dotColour(0.85)), 50);
    EXPECT_LE(countCyanPixels(image), 9);

    std::vector<GoniometerPoint> points;
    // Half on a circle just beyond the rim, half out where only the corners could show them.
    for (int i = 0; i < 2000; ++i) {
        const double a = i * 0.01;
        const double r = i % 2 == 0 ? 1.05 : 1.57;
        points.push_back(
            {static_cast<float>(r * std::cos(a)), static_cast<float>(r * std::sin(a))});
    }
    const QImage many = render(points);
    EXPECT_GT(countCyanPixels(many), 200);
    // Dots far outside reach the corners, which stay clipped to the rounded frame.
    EXPECT_EQ(many.pixelColor(0, 0).alpha(), 0);
}

}  // namespace
}  // namespace orvinta
