#pragma once

// Pixel probes for the analyzer views' tests: render an item into an image and ask what colour
// ended up where.

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QQuickPaintedItem>
#include <QSize>

#include <algorithm>
#include <cmath>

namespace orvinta::test {

// Paints the item at the given size into a transparent image, as the scene graph would.
inline QImage renderItem(QQuickPaintedItem& item, QSize size) {
    item.setSize(size);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    item.paint(&painter);
    painter.end();
    return image;
}

// Largest per-channel difference of two colours (0 ... 255), alpha included.
inline int colorDistance(const QColor& a, const QColor& b) {
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                     std::abs(a.blue() - b.blue()), std::abs(a.alpha() - b.alpha())});
}

// `top` (with its own alpha) composited over opaque `bottom`.
inline QColor over(const QColor& top, const QColor& bottom) {
    const double a = top.alphaF();
    auto mix = [a](int t, int b) { return static_cast<int>(std::lround(t * a + b * (1.0 - a))); };
    return QColor(mix(top.red(), bottom.red()), mix(top.green(), bottom.green()),
                  mix(top.blue(), bottom.blue()));
}

// Whether some pixel within `radius` of (x, y) has the colour within `tolerance`.
inline bool colorNear(const QImage& image, int x, int y, const QColor& color, int radius = 1,
                      int tolerance = 24) {
    for (int dy = -radius; dy <= radius; ++dy) {
        for (int dx = -radius; dx <= radius; ++dx) {
            const int px = x + dx;
            const int py = y + dy;
            if (image.valid(px, py) &&
                colorDistance(image.pixelColor(px, py), color) <= tolerance) {
                return true;
            }
        }
    }
    return false;
}

// Number of pixels of the whole image within `tolerance` of the colour.
inline int countColor(const QImage& image, const QColor& color, int tolerance = 24) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (colorDistance(image.pixelColor(x, y), color) <= tolerance) {
                ++count;
            }
        }
    }
    return count;
}

}  // namespace orvinta::test
