#pragma once

// Helpers for the instruments' tests: render an item into an image, read colours back, and
// drive the views' clock by hand.

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickPaintedItem>
#include <QQuickView>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
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

inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Paints the item at the given size into an image filled with `background` (transparent, as
// the scene graph starts, or the opaque dashboard background).
inline QImage renderItem(QQuickPaintedItem& item, QSizeF size,
                         QColor background = Qt::transparent) {
    item.setSize(size);
    QImage image(size.toSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    QPainter painter(&image);
    item.paint(&painter);
    painter.end();
    return image;
}

// Largest per-channel difference of two colours, 0 ... 255, alpha included.
inline int distance(const QColor& a, const QColor& b) {
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                     std::abs(a.blue() - b.blue()), std::abs(a.alpha() - b.alpha())});
}

inline QColor at(const QImage& image, double x, double y) {
    return image.pixelColor(static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y)));
}
inline QColor at(const QImage& image, QPointF p) {
    return at(image, p.x(), p.y());
}

// A colour with opacity composited over an opaque one.
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
            if (image.valid(x + dx, y + dy) &&
                distance(image.pixelColor(x + dx, y + dy), color) <= tolerance) {
                return true;
            }
        }
    }
    return false;
}

// Number of pixels in `area` (the whole image by default) whose colour passes `test`.
inline int countPixels(const QImage& image, const std::function<bool(const QColor&)>& test,
                       QRect area = {}) {
    area = area.isNull() ? image.rect() : area.intersected(image.rect());
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            count += test(image.pixelColor(x, y));
        }
    }
    return count;
}

// Bright text pixels in `area`.
inline int inkIn(const QImage& image, QRect area) {
    return countPixels(
        image, [](const QColor& c) { return c.lightness() > 120; }, area);
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

private:
    double now_;
};

// A window holding one item tree loaded from inline QML, with the given context properties.
class QmlWindow {
public:
    explicit QmlWindow(const QVariantMap& context = {}) {
        view_.engine()->addImportPath(QStringLiteral("qrc:/"));
        for (auto it = context.cbegin(); it != context.cend(); ++it) {
            view_.rootContext()->setContextProperty(it.key(), it.value());
        }
    }
    ~QmlWindow() { delete root_; }
    QmlWindow(const QmlWindow&) = delete;
    QmlWindow& operator=(const QmlWindow&) = delete;

    bool load(const QByteArray& qml, QSize size, bool show = true) {
        QQmlComponent component(view_.engine());
        component.setData(qml, QUrl(QStringLiteral("qrc:/ui_test.qml")));
        root_ = qobject_cast<QQuickItem*>(component.create(view_.rootContext()));
        if (root_ == nullptr) {
            ADD_FAILURE() << component.errorString().toStdString();
            return false;
        }
        root_->setParentItem(view_.contentItem());
        root_->setSize(size);
        view_.resize(size);
        if (show) {
            view_.show();
        }
        return true;
    }

    QQuickItem* root() const { return root_; }
    template <typename T = QObject>
    T* find(const char* name = nullptr) const {
        return name ? root_->findChild<T*>(QLatin1String(name)) : root_->findChild<T*>();
    }
    void show() { view_.show(); }
    QImage grab() { return view_.grabWindow(); }

private:
    QQuickView view_;
    QQuickItem* root_ = nullptr;
};

// Pixels in which two images of one size differ at all.
inline int differingPixels(const QImage& a, const QImage& b) {
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            differing += a.pixel(x, y) != b.pixel(x, y);
        }
    }
    return differing;
}

// A window showing one instrument (a QML type of Orvinta.Ui, with more `properties` if given)
// of `size` over the panel colour, scaled and off the pixel grid as the dashboard places them.
inline std::unique_ptr<QmlWindow> instrumentWindow(const char* type, QSizeF size, double scale,
                                                   const char* properties = "") {
    auto window = std::make_unique<QmlWindow>();
    const QString qml = QString::asprintf(
        "import QtQuick\nimport Orvinta.Ui\nItem { Item { x: 10.3; y: 7.6; width: %g;"
        " height: %g; scale: %g; transformOrigin: Item.TopLeft\n%s { anchors.fill: parent;"
        " fillColor: Theme.panelSurface; %s } } }",
        size.width(), size.height(), scale, type, properties);
    EXPECT_TRUE(window->load(qml.toUtf8(), QSize(static_cast<int>(size.width()) + 30,
                                                 static_cast<int>(size.height()) + 30)));
    return window;
}

}  // namespace orvinta::test
