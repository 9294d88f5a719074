#pragma once

#include <QImage>
#include <QPainterPath>
#include <QPolygonF>
#include <QRectF>
#include <QSize>
#include <QSizeF>

#include <functional>

class QColor;
class QPainter;
class QQuickPaintedItem;

namespace orvinta {

// Helpers shared by the painted instruments.

// A rounded rectangle as a path. The canvases ask for continuous corners; a circular arc of
// the same radius is the closest shape QPainter draws natively.
QPainterPath roundedRectPath(const QRectF& rect, double radius);

// Pixel size of an image that covers a logical area of the given size under the painter's
// current device transform (which carries the screen's device pixel ratio).
QSize cachedLayerPixelSize(const QPainter* painter, QSizeF size);

// Turns off filtered image drawing, which the scene graph's painter asks for: cached layers and
// sprites meet the texture pixel for pixel, so filtering changes no pixel and only sends every
// blit down the raster engine's slower general path.
void blitCachedLayersPlainly(QPainter* painter);

// Runs `draw` clipped to `area` (in the painter's coordinates) widened to whole pixels of the
// painter's device: a fractional clip edge would blend the drawing over itself, a shade off.
// For putting part of a cached layer back over an unscaled picture.
void drawWithinWholePixels(QPainter* painter, const QRectF& area,
                           const std::function<void()>& draw);

// The colour an item's bottom cached layer starts from: the item's fill colour when it is opaque
// (the scene graph fills the texture with it before paint()), so that the layer is opaque and
// is copied rather than blended; otherwise transparent.
QColor layerBase(const QQuickPaintedItem& item);

// Whether a cached layer no longer matches the painter's device scale, the item's size or the
// base colour it was rendered on.
bool cachedLayerNeedsRebuild(const QImage& layer, const QPainter* painter, QSizeF size,
                             const QColor& base);

// Renders the static part of a canvas (background, grid, labels) once into an image at device
// resolution, over `base` (see layerBase); draw it back with
// drawImage(QRectF(QPointF(0, 0), size), layer). The callback draws in logical coordinates,
// like paint() does.
QImage renderCachedLayer(const QPainter* painter, QSizeF size, const QColor& base,
                         const std::function<void(QPainter*)>& draw);

// Thins a polyline whose x grows from point to point so that each run of points within one
// column of `columnWidth` keeps only its first, lowest, highest and last point, in order. The
// thinned line covers the same pixels as the original: dense history lines stay exact while
// their cost follows the canvas width, not the point count.
QPolygonF thinToColumns(const QPolygonF& line, double columnWidth);

// Whether a polyline may reach into a rounded corner of radius `radius` of a canvas of the
// given size, so that it needs clipping: true when one of its points lies in a 2r x 2r square
// at a corner (a segment between points outside those squares cannot enter the cut-off area).
bool reachesRoundedCorner(const QPolygonF& line, QSizeF size, double radius);

// Strokes a polyline of an opaque colour with flat ends, each segment as a line of its own with
// square caps, which cover the outside of every bend as a join would and cost a fifth of a
// stroked polyline. A line denser than the painter's device pixels is thinned to its pixel
// columns first (the cost grows with the point count; a 60-second history holds ten points for
// every pixel of a sparkline).
void drawStrokedPolyline(QPainter* painter, const QPolygonF& line, const QColor& color,
                         double width);

}  // namespace orvinta
