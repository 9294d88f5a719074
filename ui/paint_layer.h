#pragma once

#include <QColor>
#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QSizeF>

#include <algorithm>
#include <cmath>

namespace orvinta {

// An image of `pixels` for a cached drawing that is drawn first, over the item's whole area,
// filled with `base`. An opaque base (the item's opaque fill colour) gives an image without
// alpha, which the raster engine copies onto the item's opaque texture instead of blending it;
// any other base gives a transparent image.
inline QImage makeLayerImage(QSize pixels, const QColor& base) {
    const bool opaque = base.alpha() == 255;
    QImage image(pixels, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    if (!image.isNull()) {
        image.fill(opaque ? base : QColor(Qt::transparent));
    }
    return image;
}

// The same for an item of `size` points, at the device pixel ratio of the surface it will be
// drawn on.
inline QImage makeBaseLayer(QSizeF size, qreal dpr, const QColor& base) {
    QImage image = makeLayerImage(QSize(static_cast<int>(std::ceil(size.width() * dpr)),
                                        static_cast<int>(std::ceil(size.height() * dpr))),
                                  base);
    image.setDevicePixelRatio(dpr);
    return image;
}

// A transparent image for a cached drawing of the given size in points, at the device pixel
// ratio of the surface it will be drawn on, so that cached text and edges stay sharp.
inline QImage makeTransparentLayer(QSizeF size, qreal dpr) {
    return makeBaseLayer(size, dpr, Qt::transparent);
}

// Makes a painter just begun on a layer from makeBaseLayer() or makeTransparentLayer() draw in
// points. QPainter applies an image's pixel ratio only from 1 up, so on the layer of a dashboard
// scaled below 1 it would draw points as pixels: the drawing too large and cropped.
inline void drawLayerInPoints(QPainter& painter) {
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const qreal applied = painter.deviceTransform().m11();
    if (ratio > 0.0 && applied > 0.0 && ratio != applied) {
        painter.scale(ratio / applied, ratio / applied);
    }
}

// Device pixels per point of a painter: the surface's pixel ratio times the scale of the
// painter's transform, so that caches drawn at this resolution meet the surface one to one.
inline qreal paintScale(const QPainter* painter) {
    const qreal device = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const qreal transform = std::sqrt(std::abs(painter->worldTransform().determinant()));
    const qreal scale = device * (transform > 0.0 ? transform : 1.0);
    return std::isfinite(scale) && scale > 0.0 ? std::min(scale, 8.0) : 1.0;
}

}  // namespace orvinta
