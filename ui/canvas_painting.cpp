#include "ui/canvas_painting.h"

#include <QColor>
#include <QLineF>
#include <QPainter>
#include <QPen>
#include <QQuickPaintedItem>

#include <algorithm>
#include <cmath>
#include <vector>

#include "ui/paint_layer.h"

namespace orvinta {

QPainterPath roundedRectPath(const QRectF& rect, double radius) {
    QPainterPath path;
    const double r = std::clamp(radius, 0.0, std::min(rect.width(), rect.height()) / 2.0);
    path.addRoundedRect(rect, r, r);
    return path;
}

QSize cachedLayerPixelSize(const QPainter* painter, QSizeF size) {
    const QTransform t = painter->deviceTransform();
    double sx = std::hypot(t.m11(), t.m12());
    double sy = std::hypot(t.m21(), t.m22());
    if (!(sx > 0.0) || !std::isfinite(sx)) {
        sx = 1.0;
    }
    if (!(sy > 0.0) || !std::isfinite(sy)) {
        sy = 1.0;
    }
    return QSize(std::max(1, static_cast<int>(std::ceil(size.width() * sx - 1e-6))),
                 std::max(1, static_cast<int>(std::ceil(size.height() * sy - 1e-6))));
}

void blitCachedLayersPlainly(QPainter* painter) {
    painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
}

void drawWithinWholePixels(QPainter* painter, const QRectF& area,
                           const std::function<void()>& draw) {
    const QTransform transform = painter->transform();
    const QRect pixels = painter->deviceTransform().mapRect(area).toAlignedRect();
    painter->save();
    painter->resetTransform();
    // In device pixels: the world transform is reset, and the device's own scale undone.
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    painter->setClipRect(QRectF(pixels.topLeft() / dpr, pixels.size() / dpr), Qt::IntersectClip);
    painter->setTransform(transform);
    draw();
    painter->restore();
}

namespace {

// The segments of the polyline being drawn; UI thread only, reused so that a frame allocates
// nothing for them.
std::vector<QLineF>& segmentScratch() {
    static std::vector<QLineF> segments;
    return segments;
}

const QString kLayerBaseKey = QStringLiteral("base");

QString layerBaseName(const QColor& base) {
    return base.alpha() == 255 ? base.name(QColor::HexArgb) : QString();
}

}  // namespace

QColor layerBase(const QQuickPaintedItem& item) {
    const QColor fill = item.fillColor();
    return fill.alpha() == 255 ? fill : QColor(Qt::transparent);
}

bool cachedLayerNeedsRebuild(const QImage& layer, const QPainter* painter, QSizeF size,
                             const QColor& base) {
    return layer.isNull() || layer.size() != cachedLayerPixelSize(painter, size) ||
           layer.text(kLayerBaseKey) != layerBaseName(base);
}

QImage renderCachedLayer(const QPainter* painter, QSizeF size, const QColor& base,
                         const std::function<void(QPainter*)>& draw) {
    const QSize pixels = cachedLayerPixelSize(painter, size);
    QImage layer = makeLayerImage(pixels, base);
    layer.setText(kLayerBaseKey, layerBaseName(base));
    QPainter p(&layer);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(pixels.width() / size.width(), pixels.height() / size.height());
    draw(&p);
    p.end();
    return layer;
}

QPolygonF thinToColumns(const QPolygonF& line, double columnWidth) {
    if (line.size() <= 4 || !(columnWidth > 0.0)) {
        return line;
    }
    QPolygonF thinned;
    thinned.reserve(line.size());
    qsizetype begin = 0;
    while (begin < line.size()) {
        const double column = std::floor(line[begin].x() / columnWidth);
        qsizetype end = begin + 1;
        qsizetype lowest = begin;   // largest y: lowest on screen
        qsizetype highest = begin;  // smallest y
        while (end < line.size() && std::floor(line[end].x() / columnWidth) == column) {
            if (line[end].y() > line[lowest].y()) {
                lowest = end;
            }
            if (line[end].y() < line[highest].y()) {
                highest = end;
            }
            ++end;
        }
        const qsizetype last = end - 1;
        const qsizetype first = std::min(lowest, highest);
        const qsizetype second = std::max(lowest, highest);
        qsizetype kept = -1;
        for (qsizetype keep : {begin, first, second, last}) {
            if (keep != kept) {
                thinned.append(line[keep]);
                kept = keep;
            }
        }
        begin = end;
    }
    return thinned;
}

bool reachesRoundedCorner(const QPolygonF& line, QSizeF size, double radius) {
    const double reach = 2.0 * radius;
    for (const QPointF& p : line) {
        const bool nearSide = p.x() < reach || p.x() > size.width() - reach;
        const bool nearTopOrBottom = p.y() < reach || p.y() > size.height() - reach;
        if (nearSide && nearTopOrBottom) {
            return true;
        }
    }
    return false;
}

void drawStrokedPolyline(QPainter* painter, const QPolygonF& line, const QColor& color,
                         double width) {
    if (line.size() < 2) {
        return;
    }
    const QTransform t = painter->deviceTransform();
    const double scale = std::hypot(t.m11(), t.m12());
    const double column = scale > 0.0 && std::isfinite(scale) ? 1.0 / scale : 1.0;
    const QPolygonF thinned = thinToColumns(line, column);
    // The segments as separate lines: the raster engine draws solid lines with square or flat
    // caps on its fast line path, where a polyline goes through the general stroker and path
    // filler (five times slower for a spectrum). A square cap, half the pen width long, covers
    // the outside of a bend as a join would; inside a bend the segments overlap, which an
    // opaque colour does not show. The two ends of the line stay flat.
    std::vector<QLineF>& segments = segmentScratch();
    segments.clear();
    for (qsizetype i = 1; i < thinned.size(); ++i) {
        segments.emplace_back(thinned[i - 1], thinned[i]);
    }
    QPen pen(color, width);
    pen.setCapStyle(Qt::FlatCap);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    const auto count = static_cast<int>(segments.size());
    if (count <= 2) {
        painter->drawLines(segments.data(), count);
        return;
    }
    painter->drawLine(segments.front());
    painter->drawLine(segments.back());
    pen.setCapStyle(Qt::SquareCap);
    painter->setPen(pen);
    painter->drawLines(segments.data() + 1, count - 2);
}

}  // namespace orvinta
