#include "ui/canvas_painting.h"

#include <QPainter>
#include <QPen>

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace orvinta {
namespace {

// The same polyline stroked in full by QPainter and through drawStrokedPolyline; returns the
// share of the line's pixels whose coverage differs by more than a quarter.
double strokeMismatch(const QPolygonF& line, double width, QSize size, double scale = 1.0) {
    QImage reference(size * scale, QImage::Format_ARGB32_Premultiplied);
    reference.setDevicePixelRatio(scale);
    reference.fill(Qt::transparent);
    QImage ours = reference;
    {
        QPainter p(&reference);
        p.setRenderHint(QPainter::Antialiasing);
        QPen pen(Qt::white, width);
        pen.setCapStyle(Qt::FlatCap);
        pen.setJoinStyle(Qt::MiterJoin);
        p.setPen(pen);
        p.drawPolyline(line);
    }
    {
        QPainter p(&ours);
        p.setRenderHint(QPainter::Antialiasing);
        drawStrokedPolyline(&p, line, Qt::white, width);
    }
    int inked = 0;
    int off = 0;
    for (int y = 0; y < reference.height(); ++y) {
        for (int x = 0; x < reference.width(); ++x) {
            const int a = qAlpha(reference.pixel(x, y));
            const int b = qAlpha(ours.pixel(x, y));
            inked += a > 0 || b > 0;
            off += std::abs(a - b) > 64;
        }
    }
    return inked > 0 ? static_cast<double>(off) / inked : 1.0;
}

TEST(StrokedPolyline, DenseHistoryAndJaggedSpectrumKeepTheirLook) {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 1.5);
    // 60 s of history at 30 points a second across a 195-point sparkline, ten points a pixel,
    // the loudness stepping every 100 ms; and a spectrum row of programme material, 192 bins
    // across the panel, jagged from bin to bin.
    QPolygonF steps;
    double level = 32.0;
    for (int i = 0; i < 1800; ++i) {
        level = i % 3 == 0 ? 32.0 + 14.0 * std::sin(i * 0.01) + noise(random) : level;
        steps << QPointF(i * 195.0 / 1799.0, level);
    }
    EXPECT_LT(thinToColumns(steps, 1.0).size(), 4 * 196);
    QPolygonF spectrum;
    for (int i = 0; i < 192; ++i) {
        spectrum << QPointF(i * 531.0 / 191.0,
                            120.0 + 50.0 * std::sin(i * 0.05) + 6 * noise(random));
    }
    for (double scale : {1.0, 2.0}) {
        EXPECT_LT(strokeMismatch(steps, 1.5, QSize(195, 64), scale), 0.08);
        EXPECT_LT(strokeMismatch(spectrum, 1.4, QSize(531, 260), scale), 0.08);
    }
}

}  // namespace
}  // namespace orvinta
