#pragma once

// Helpers for the meter and radar tests: render an item at its dashboard size over the window
// background, read colours back, and drive the views' clock by hand.

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QQuickPaintedItem>

#include <algorithm>
#include <cmath>
#include <ostream>

#include "ui/theme.h"
#include "ui/view_clock.h"

// Readable values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << text.toStdString();
}
inline void PrintTo(const QColor& color, std::ostream* os) {
    *os << color.name(QColor::HexArgb).toStdString();
}

namespace orvinta::test {

// Paints the item into an image of its size, over the opaque dashboard background.
inline QImage renderOver(QQuickPaintedItem& item, QSizeF size,
                         QColor background = Theme::windowBackground()) {
    item.setSize(size);
    QImage image(size.toSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    QPainter painter(&image);
    item.paint(&painter);
    painter.end();
    return image;
}

// Largest per-channel difference of two colours, 0 ... 255 (alpha ignored: images are opaque).
inline int distance(const QColor& a, const QColor& b) {
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                     std::abs(a.blue() - b.blue())});
}

inline QColor at(const QImage& image, double x, double y) {
    return image.pixelColor(static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y)));
}

// A colour with opacity composited over an opaque one.
inline QColor over(const QColor& top, const QColor& bottom) {
    const double a = top.alphaF();
    auto mix = [a](int t, int b) { return static_cast<int>(std::lround(t * a + b * (1.0 - a))); };
    return QColor(mix(top.red(), bottom.red()), mix(top.green(), bottom.green()),
                  mix(top.blue(), bottom.blue()));
}

// Replaces the views' clock for the life of the object; time moves only when told.
class ManualClock {
public:
    explicit ManualClock(double start = 1000.0) : now_(start) {
        ViewClock::setSource([this] { return now_; });
    }
    ~ManualClock() { ViewClock::setSource({}); }
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    void advance(double seconds) { now_ += seconds; }
    double now() const { return now_; }

private:
    double now_;
};

}  // namespace orvinta::test
