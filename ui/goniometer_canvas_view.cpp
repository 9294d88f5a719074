#include "ui/goniometer_canvas_view.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <numbers>

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

// Whether a dot lies clear of the rounded corners, so the canvas need not clip it.
bool clearOfCorners(QPointF p, QSizeF size) {
    const double margin = kCornerRadius + kDotDiameter;
    const bool insideX = p.x() >= margin && p.x() <= size.width() - margin;
    const bool insideY = p.y() >= margin && p.y() <= size.height() - margin;
    return insideX || insideY;
}

// Dot sprites: kSpritePhases x kSpritePhases sub-pixel variants of one dot.
constexpr int kSpritePhases = 4;
constexpr std::size_t kSpriteCount = static_cast<std::size_t>(kSpritePhases) * kSpritePhases;
constexpr double kMaxSpriteScale = 8.0;
const QPointF kOffCanvas(-1e9, -1e9);

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
    setAntialiasing(true);
}

void GoniometerCanvasView::setPoints(const GoniometerPointList& points) {
    setItemProperty(this, points_, points, &GoniometerCanvasView::pointsChanged);
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
    }
    painter->drawImage(QRectF(QPointF(0, 0), size), scaleCache_);

    const std::vector<GoniometerPoint>& points = points_.points();
    if (points.empty()) {
        return;
    }

    // Where every dot lands, and whether any reaches a rounded corner (only then is the
    // canvas clipped, which would slow every blit down).
    std::vector<QPointF>& positions = positions_;
    positions.clear();
    positions.reserve(points.size());
    bool needsClip = false;
    const QRectF visible = QRectF(QPointF(0, 0), size)
                               .adjusted(-kDotDiameter, -kDotDiameter, kDotDiameter, kDotDiameter);
    for (const GoniometerPoint& point : points) {
        QPointF p = goniometerPosition(point, size);
        // A non-finite sample pair has no place on the scope, and a dot far off the canvas
        // draws nothing; both keep their slot so the other dots' ages stay right.
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || !visible.contains(p)) {
            p = kOffCanvas;
        } else {
            needsClip = needsClip || !clearOfCorners(p, size);
        }
        positions.push_back(p);
    }
    if (needsClip) {
        painter->setClipPath(roundedRectPath(QRectF(QPointF(0, 0), size), kCornerRadius));
    }

    const std::vector<GoniometerDotBand> bands = goniometerDotBands(points.size());
    const QTransform device = painter->deviceTransform();
    const double scale = device.m11();
    const bool blittable = device.type() <= QTransform::TxScale && scale > 0.0 &&
                           device.m22() == scale && scale <= kMaxSpriteScale;
    if (!blittable) {
        // Rotated or sheared painters (never the scene graph's) get the plain circles.
        painter->setPen(Qt::NoPen);
        for (const GoniometerDotBand& band : bands) {
            painter->setBrush(Theme::withAlpha(Theme::cyan(), band.opacity));
            for (std::size_t k = band.begin; k < band.end; ++k) {
                if (positions[k] != kOffCanvas) {
                    painter->drawEllipse(positions[k], kDotDiameter / 2.0, kDotDiameter / 2.0);
                }
            }
        }
        return;
    }

    // Each dot is a blit of a pre-rendered antialiased circle, picked from sixteen variants
    // that sit a quarter device pixel apart, so dots keep their sub-pixel placement.
    if (dotSpriteScale_ != scale) {
        dotSprites_ = renderDotSprites(scale);
        dotSpriteScale_ = scale;
    }
    const double origin = dotSpriteOrigin(scale);
    const double previousOpacity = painter->opacity();
    for (const GoniometerDotBand& band : bands) {
        painter->setOpacity(previousOpacity * band.opacity);
        for (std::size_t k = band.begin; k < band.end; ++k) {
            if (positions[k] == kOffCanvas) {
                continue;
            }
            const QPointF d = device.map(positions[k]);
            const QPoint quarters(static_cast<int>(std::lround(d.x() * kSpritePhases)),
                                  static_cast<int>(std::lround(d.y() * kSpritePhases)));
            const int px = floorDiv(quarters.x(), kSpritePhases);
            const int py = floorDiv(quarters.y(), kSpritePhases);
            const int phase = (quarters.y() - py * kSpritePhases) * kSpritePhases +
                              (quarters.x() - px * kSpritePhases);
            // Back to logical coordinates, landing on a whole device pixel.
            const QPointF topLeft((px - origin - device.dx()) / scale,
                                  (py - origin - device.dy()) / scale);
            painter->drawImage(topLeft, dotSprites_[static_cast<std::size_t>(phase)]);
        }
    }
    painter->setOpacity(previousOpacity);
}

}  // namespace orvinta
