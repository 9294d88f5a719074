#include "ui/canvas_painting.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

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

bool cachedLayerNeedsRebuild(const QImage& layer, const QPainter* painter, QSizeF size) {
    return layer.isNull() || layer.size() != cachedLayerPixelSize(painter, size);
}

QImage renderCachedLayer(const QPainter* painter, QSizeF size,
                         const std::function<void(QPainter*)>& draw) {
    const QSize pixels = cachedLayerPixelSize(painter, size);
    QImage layer(pixels, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    QPainter p(&layer);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(pixels.width() / size.width(), pixels.height() / size.height());
    draw(&p);
    p.end();
    return layer;
}

}  // namespace orvinta
