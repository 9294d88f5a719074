#pragma once

#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QSize>
#include <QSizeF>

#include <functional>

class QPainter;

namespace orvinta {

// Helpers shared by the analyzer canvases (sparkline, goniometer, correlation meter, spectrum).

// A rounded rectangle as a path. The canvases ask for continuous corners; a circular arc of
// the same radius is the closest shape QPainter draws natively.
QPainterPath roundedRectPath(const QRectF& rect, double radius);

// Pixel size of an image that covers a logical area of the given size under the painter's
// current device transform (which carries the screen's device pixel ratio).
QSize cachedLayerPixelSize(const QPainter* painter, QSizeF size);

// Whether a cached layer no longer matches the painter's device scale or the item's size.
bool cachedLayerNeedsRebuild(const QImage& layer, const QPainter* painter, QSizeF size);

// Renders the static part of a canvas (background, grid, labels) once into an image at device
// resolution; draw it back with drawImage(QRectF(QPointF(0, 0), size), layer). The callback
// draws in logical coordinates, like paint() does.
QImage renderCachedLayer(const QPainter* painter, QSizeF size,
                         const std::function<void(QPainter*)>& draw);

}  // namespace orvinta
