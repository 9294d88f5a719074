#pragma once

#include <QImage>
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <array>
#include <cstddef>
#include <vector>

#include "state/goniometer_point_list.h"
#include "ui/on_screen_painted_item.h"

namespace orvinta {

// Radius of the goniometer's rim in a drawing of the given size: 90 % of half the shorter side.
double goniometerRadius(QSizeF size);

// Screen position of a goniometer point: the side axis x to the right, the mid axis y upward,
// 1.0 on the rim. Points are not clamped; a point beyond 1.0 lands outside the rim.
QPointF goniometerPosition(GoniometerPoint point, QSizeF size);

// Opacity of the k-th of n dots (k = 0 the oldest): 0.85 for the newest, 0.30 for the oldest.
double goniometerDotOpacity(std::size_t k, std::size_t n);

// A run of consecutive dots [begin, end) drawn with one opacity. The dots' opacity rises
// monotonically with their age order, so quantising it to the 8-bit alpha the canvas stores
// groups them into at most ~140 runs, each drawn with one call.
struct GoniometerDotBand {
    std::size_t begin = 0;
    std::size_t end = 0;
    double opacity = 0.0;
};
std::vector<GoniometerDotBand> goniometerDotBands(std::size_t n);

// One of the eight axis lines from the centre to the rim: the diagonals (the left and right
// channel axes) are brighter than the horizontal and vertical ones.
struct GoniometerAxis {
    QPointF end;
    double opacity = 0.0;
};
std::array<GoniometerAxis, 8> goniometerAxes(QSizeF size);

// A channel label just outside the rim on a diagonal, centred on `centre`.
struct GoniometerLabel {
    QString text;
    QPointF centre;
    int pointSize = 0;
    double opacity = 0.0;
};
std::array<GoniometerLabel, 4> goniometerLabels(QSizeF size);

// The goniometer (stereo vectorscope): the recent sample pairs as dots in a circle whose
// diagonals are the left and right channel axes. Lives on the UI thread; the axes, rim and
// labels are cached per size, the dots are redrawn from `points` on every change: each frame
// copies the cached scale and blends pre-rendered dots into the copy pixel by pixel, then draws
// it with one blit.
class GoniometerCanvasView : public OnScreenPaintedItem {
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(
        orvinta::GoniometerPointList points READ points WRITE setPoints NOTIFY pointsChanged FINAL)

public:
    explicit GoniometerCanvasView(QQuickItem* parent = nullptr);

    GoniometerPointList points() const { return points_; }
    void setPoints(const GoniometerPointList& points);

    void paint(QPainter* painter) override;

signals:
    void pointsChanged();

private:
    // The dots as circles drawn one by one, for painters that are rotated or sheared (never the
    // scene graph's).
    void drawPlainDots(QPainter* painter, QSizeF size) const;

    GoniometerPointList points_;
    QImage scaleCache_;
    // Coverage of the rounded frame at the scale cache's resolution: dots are clipped by it.
    QImage frameMask_;
    // The cached scale with the frame's dots; reused.
    QImage frame_;
    std::array<QImage, 16> dotSprites_;
    double dotSpriteScale_ = 0.0;
};

}  // namespace orvinta
