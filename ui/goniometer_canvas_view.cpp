#include "ui/goniometer_canvas_view.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "ui/canvas_painting.h"
#include "ui/item_property.h"
#include "ui/theme.h"

namespace orvinta {

namespace {

constexpr double kCornerRadius = 8.0;
constexpr double kDotDiameter = 2.0;
constexpr double kNewestDotOpacity = 0.85;
constexpr double kOpacityFallOff = 0.55;
// cos 45° = sin 45°, rounded as the label positions use it.
constexpr double kDiagonal = 0.7071;
constexpr double kLabelDistanceBeyondRim = 11.0;

int alphaByte(double opacity) {
    return static_cast<int>(std::lround(std::clamp(opacity, 0.0, 1.0) * 255.0));
}

void drawScale(QPainter* painter, QSizeF size) {
    const QRectF bounds(QPointF(0, 0), size);
    const QPointF centre(size.width() / 2.0, size.height() / 2.0);
    painter->fillPath(roundedRectPath(bounds, kCornerRadius), Theme::canvasBackground());
    painter->setClipPath(roundedRectPath(bounds, kCornerRadius));

    for (const GoniometerAxis& axis : goniometerAxes(size)) {
        painter->setPen(QPen(Theme::whiteAlpha(axis.opacity), 1.0));
        painter->drawLine(centre, axis.end);
    }
    const double r = goniometerRadius(size);
    painter->setPen(QPen(Theme::whiteAlpha(0.15), 1.0));
    painter->setBrush(Qt::NoBrush);
    painter->drawEllipse(centre, r, r);

    for (const GoniometerLabel& label : goniometerLabels(size)) {
        painter->setFont(Theme::font(label.pointSize));
        painter->setPen(Theme::whiteAlpha(label.opacity));
        const QRectF box(label.centre.x() - 50.0, label.centre.y() - 50.0, 100.0, 100.0);
        painter->drawText(box, Qt::AlignCenter, label.text);
    }
}

// Dot sprites: kSpritePhases x kSpritePhases sub-pixel variants of one dot.
constexpr int kSpritePhases = 4;
constexpr std::size_t kSpriteCount = static_cast<std::size_t>(kSpritePhases) * kSpritePhases;
constexpr double kMaxSpriteScale = 8.0;

int floorDiv(int a, int b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// Device pixels from a sprite's top-left corner to the dot's centre at phase 0.
double dotSpriteOrigin(double scale) {
    return std::ceil(kDotDiameter / 2.0 * scale) + 1.0;
}

std::array<QImage, kSpriteCount> renderDotSprites(double scale) {
    const double origin = dotSpriteOrigin(scale);
    const int side = static_cast<int>(2.0 * origin) + 1;
    std::array<QImage, kSpriteCount> sprites;
    for (int py = 0; py < kSpritePhases; ++py) {
        for (int px = 0; px < kSpritePhases; ++px) {
            QImage sprite(side, side, QImage::Format_ARGB32_Premultiplied);
            sprite.fill(Qt::transparent);
            QPainter p(&sprite);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(Theme::cyan());
            const QPointF centre(origin + static_cast<double>(px) / kSpritePhases,
                                 origin + static_cast<double>(py) / kSpritePhases);
            const double r = kDotDiameter / 2.0 * scale;
            p.drawEllipse(centre, r, r);
            p.end();
            sprite.setDevicePixelRatio(scale);
            sprites[static_cast<std::size_t>(py) * kSpritePhases + static_cast<std::size_t>(px)] =
                sprite;
        }
    }
    return sprites;
}

// x * a / 255 for the four bytes of a premultiplied pixel at once, rounded as the raster
// engine rounds.
quint32 byteMul(quint32 x, quint32 a) {
    quint32 redBlue = (x & 0x00ff00ffu) * a;
    redBlue = ((redBlue + ((redBlue >> 8) & 0x00ff00ffu) + 0x00800080u) >> 8) & 0x00ff00ffu;
    quint32 alphaGreen = ((x >> 8) & 0x00ff00ffu) * a;
    alphaGreen = (alphaGreen + ((alphaGreen >> 8) & 0x00ff00ffu) + 0x00800080u) & 0xff00ff00u;
    return alphaGreen | redBlue;
}

// 32-bit pixels of an image, addressed by row and column.
struct PixelRows {
    quint32* bits;
    qsizetype stride;
    quint32* row(int y) const { return bits + y * stride; }
};

PixelRows pixelRows(QImage& image) {
    return {reinterpret_cast<quint32*>(image.bits()), image.bytesPerLine() / 4};
}

PixelRows pixelRows(const QImage& image) {
    return {const_cast<quint32*>(reinterpret_cast<const quint32*>(image.constBits())),
            image.bytesPerLine() / 4};
}

// Blends a dot sprite of size `side` at `alpha` (0 ... 255) over the frame (`frameSize` pixels)
// with its top-left pixel at `at`, each pixel's coverage limited by the frame mask (the rounded
// corners clip the dots).
void blendDot(const PixelRows& frame, const PixelRows& mask, QSize frameSize,
              const PixelRows& sprite, QSize side, QPoint at, quint32 alpha, bool opaque) {
    const int x0 = std::max(at.x(), 0);
    const int y0 = std::max(at.y(), 0);
    const int x1 = std::min(at.x() + side.width(), frameSize.width());
    const int y1 = std::min(at.y() + side.height(), frameSize.height());
    for (int y = y0; y < y1; ++y) {
        quint32* line = frame.row(y);
        const quint32* coverage = mask.row(y);
        const quint32* dot = sprite.row(y - at.y()) - at.x();
        for (int x = x0; x < x1; ++x) {
            quint32 source = dot[x];
            if (source == 0) {
                continue;
            }
            source = byteMul(source, alpha);
            const quint32 clip = qAlpha(coverage[x]);
            if (clip != 255) {
                source = byteMul(source, clip);
            }
            const quint32 blended = source + byteMul(line[x], 255 - qAlpha(source));
            line[x] = opaque ? (blended | 0xff000000u) : blended;
        }
    }
}

}  // namespace

double goniometerRadius(QSizeF size) {
    return std::min(size.width(), size.height()) / 2.0 * 0.9;
}

QPointF goniometerPosition(GoniometerPoint point, QSizeF size) {
    const double r = goniometerRadius(size);
    return QPointF(size.width() / 2.0 + r * point.x, size.height() / 2.0 - r * point.y);
}

double goniometerDotOpacity(std::size_t k, std::size_t n) {
    const double age = n > k ? static_cast<double>(n - 1 - k) : 0.0;
    const double oldest = n > 1 ? static_cast<double>(n - 1) : 1.0;
    return kNewestDotOpacity - kOpacityFallOff * age / oldest;
}

std::vector<GoniometerDotBand> goniometerDotBands(std::size_t n) {
    std::vector<GoniometerDotBand> bands;
    std::size_t begin = 0;
    while (begin < n) {
        const int alpha = alphaByte(goniometerDotOpacity(begin, n));
        std::size_t end = begin + 1;
        while (end < n && alphaByte(goniometerDotOpacity(end, n)) == alpha) {
            ++end;
        }
        bands.push_back({begin, end, alpha / 255.0});
        begin = end;
    }
    return bands;
}

std::array<GoniometerAxis, 8> goniometerAxes(QSizeF size) {
    const double r = goniometerRadius(size);
    const QPointF centre(size.width() / 2.0, size.height() / 2.0);
    std::array<GoniometerAxis, 8> axes;
    for (int i = 0; i < 8; ++i) {
        // Angles grow clockwise on screen because y grows downward.
        const double a = i * std::numbers::pi / 4.0;
        const bool diagonal = i % 2 == 1;
        axes[i] = {centre + QPointF(r * std::cos(a), r * std::sin(a)), diagonal ? 0.22 : 0.12};
    }
    return axes;
}

std::array<GoniometerLabel, 4> goniometerLabels(QSizeF size) {
    const double d = (goniometerRadius(size) + kLabelDistanceBeyondRim) * kDiagonal;
    const double cx = size.width() / 2.0;
    const double cy = size.height() / 2.0;
    return {{
        {QStringLiteral("L"), QPointF(cx - d, cy - d), 11, 0.6},
        {QStringLiteral("R"), QPointF(cx + d, cy - d), 11, 0.6},
        {QStringLiteral("-R"), QPointF(cx - d, cy + d), 10, 0.5},
        {QStringLiteral("-L"), QPointF(cx + d, cy + d), 10, 0.5},
    }};
}

GoniometerCanvasView::GoniometerCanvasView(QQuickItem* parent) : OnScreenPaintedItem(parent) {
    setPaintCoversItem(true);
    setAntialiasing(true);
}

void GoniometerCanvasView::setPoints(const GoniometerPointList& points) {
    setItemProperty(this, points_, points, &GoniometerCanvasView::pointsChanged);
}

void GoniometerCanvasView::drawPlainDots(QPainter* painter, QSizeF size) const {
    const std::vector<GoniometerPoint>& points = points_.points();
    painter->setClipPath(roundedRectPath(QRectF(QPointF(0, 0), size), kCornerRadius));
    painter->setPen(Qt::NoPen);
    for (const GoniometerDotBand& band : goniometerDotBands(points.size())) {
        painter->setBrush(Theme::withAlpha(Theme::cyan(), band.opacity));
        for (std::size_t k = band.begin; k < band.end; ++k) {
            const QPointF p = goniometerPosition(points[k], size);
            if (std::isfinite(p.x()) && std::isfinite(p.y())) {
                painter->drawEllipse(p, kDotDiameter / 2.0, kDotDiameter / 2.0);
            }
        }
    }
}

void GoniometerCanvasView::paint(QPainter* painter) {
    blitCachedLayersPlainly(painter);
    const QSizeF size(width(), height());
    if (size.isEmpty()) {
        return;
    }
    painter->setRenderHint(QPainter::Antialiasing);
    const QColor base = layerBase(*this);
    if (cachedLayerNeedsRebuild(scaleCache_, painter, size, base)) {
        scaleCache_ =
            renderCachedLayer(painter, size, base, [size](QPainter* p) { drawScale(p, size); });
        frameMask_ = renderCachedLayer(painter, size, Qt::transparent, [size](QPainter* p) {
            p->fillPath(roundedRectPath(QRectF(QPointF(0, 0), size), kCornerRadius), Qt::white);
        });
    }
    const QRectF bounds(QPointF(0, 0), size);
    const std::vector<GoniometerPoint>& points = points_.points();
    const QTransform device = painter->deviceTransform();
    const double scale = device.m11();
    const bool blittable = device.type() <= QTransform::TxScale && scale > 0.0 &&
                           device.m22() == scale && scale <= kMaxSpriteScale &&
                           scaleCache_.size() == cachedLayerPixelSize(painter, size);
    if (points.empty() || !blittable) {
        painter->drawImage(bounds, scaleCache_);
        if (!points.empty()) {
            drawPlainDots(painter, size);
        }
        return;
    }

    // Each dot is a pre-rendered antialiased circle, picked from sixteen variants that sit a
    // quarter device pixel apart, so dots keep their sub-pixel placement.
    if (dotSpriteScale_ != scale) {
        dotSprites_ = renderDotSprites(scale);
        dotSpriteScale_ = scale;
    }
    if (frame_.size() != scaleCache_.size() || frame_.format() != scaleCache_.format()) {
        frame_ = QImage(scaleCache_.size(), scaleCache_.format());
    }
    std::copy_n(scaleCache_.constBits(), scaleCache_.sizeInBytes(), frame_.bits());
    const bool opaque = !frame_.hasAlphaChannel();
    const PixelRows frame = pixelRows(frame_);
    const PixelRows mask = pixelRows(std::as_const(frameMask_));
    const QSize spriteSize = dotSprites_[0].size();
    const int origin = static_cast<int>(dotSpriteOrigin(scale));
    for (const GoniometerDotBand& band : goniometerDotBands(points.size())) {
        const auto alpha = static_cast<quint32>(alphaByte(band.opacity));
        for (std::size_t k = band.begin; k < band.end; ++k) {
            // Where the dot lands in the frame's pixels; a non-finite sample pair has no place
            // on the scope (it keeps its slot, so the other dots' ages stay right).
            const QPointF p = goniometerPosition(points[k], size) * scale;
            if (!(std::abs(p.x()) < 1e6) || !(std::abs(p.y()) < 1e6)) {
                continue;
            }
            const QPoint quarters(static_cast<int>(std::lround(p.x() * kSpritePhases)),
                                  static_cast<int>(std::lround(p.y() * kSpritePhases)));
            const int px = floorDiv(quarters.x(), kSpritePhases);
            const int py = floorDiv(quarters.y(), kSpritePhases);
            const int phase = (quarters.y() - py * kSpritePhases) * kSpritePhases +
                              (quarters.x() - px * kSpritePhases);
            blendDot(frame, mask, frame_.size(),
                     pixelRows(std::as_const(dotSprites_[static_cast<std::size_t>(phase)])),
                     spriteSize, QPoint(px - origin, py - origin), alpha, opaque);
        }
    }
    painter->drawImage(bounds, frame_);
}

}  // namespace orvinta
