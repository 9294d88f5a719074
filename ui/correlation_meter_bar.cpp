#include "ui/correlation_meter_bar.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#include "ui/canvas_painting.h"
#include "ui/item_property.h"
#include "ui/theme.h"
#include "ui/view_values.h"

namespace orvinta {

namespace {

constexpr double kBackgroundRadius = 4.0;
constexpr double kInset = 3.0;
constexpr double kSpacing = 2.0;
constexpr double kCentreLineHeight = 2.0;
constexpr double kSegmentRadius = 1.5;

int clampedSegments(int segmentsPerSide) {
    return std::clamp(segmentsPerSide, 0, kMaxCorrelationSegmentsPerSide);
}

void drawUnlitBar(QPainter* painter, QSizeF size, int segmentsPerSide) {
    painter->fillPath(roundedRectPath(QRectF(QPointF(0, 0), size), kBackgroundRadius),
                      Theme::withAlpha(Theme::black(), 0.4));
    const CorrelationBarLayout layout = correlationBarLayout(size, segmentsPerSide);
    const QColor unlit = Theme::whiteAlpha(0.06);
    for (const auto* side : {&layout.positive, &layout.negative}) {
        for (const QRectF& rect : *side) {
            painter->fillPath(roundedRectPath(rect, kSegmentRadius), unlit);
        }
    }
    painter->fillRect(layout.centreLine, Theme::whiteAlpha(0.6));
}

}  // namespace

double correlationSegmentPosition(int k, int segmentsPerSide) {
    return static_cast<double>(k + 1) / static_cast<double>(segmentsPerSide);
}

bool correlationSegmentLit(double value, int k, int segmentsPerSide, CorrelationSide side) {
    const double f = correlationSegmentPosition(k, segmentsPerSide);
    if (side == CorrelationSide::positive) {
        return value > 0.0 && f <= std::min(value, 1.0);
    }
    return value < 0.0 && f <= std::min(-value, 1.0);
}

QColor correlationSegmentColor(double value, int k, int segmentsPerSide, CorrelationSide side) {
    if (correlationSegmentLit(value, k, segmentsPerSide, side)) {
        return segmentPaletteColor(correlationSegmentPosition(k, segmentsPerSide));
    }
    return Theme::whiteAlpha(0.06);
}

CorrelationBarLayout correlationBarLayout(QSizeF size, int segmentsPerSide) {
    const int n = clampedSegments(segmentsPerSide);
    const QRectF inner = QRectF(QPointF(0, 0), size).adjusted(kInset, kInset, -kInset, -kInset);
    const double innerWidth = std::max(inner.width(), 0.0);
    const double gaps = kSpacing * 2.0 * n;
    const double segmentHeight =
        n > 0 ? std::max((inner.height() - kCentreLineHeight - gaps) / (2.0 * n), 0.0) : 0.0;
    const double stackHeight = 2.0 * n * segmentHeight + kCentreLineHeight + gaps;
    const double top = inner.top() + (inner.height() - stackHeight) / 2.0;

    CorrelationBarLayout layout;
    layout.positive.resize(static_cast<std::size_t>(n));
    layout.negative.resize(static_cast<std::size_t>(n));
    const double pitch = segmentHeight + kSpacing;
    for (int k = 0; k < n; ++k) {
        // The outermost positive segment (k = n - 1) is at the top.
        const double y = top + (n - 1 - k) * pitch;
        layout.positive[k] = QRectF(inner.left(), y, innerWidth, segmentHeight);
    }
    const double centreTop = top + n * pitch;
    layout.centreLine = QRectF(inner.left(), centreTop, innerWidth, kCentreLineHeight);
    const double negativeTop = centreTop + kCentreLineHeight + kSpacing;
    for (int k = 0; k < n; ++k) {
        layout.negative[k] =
            QRectF(inner.left(), negativeTop + k * pitch, innerWidth, segmentHeight);
    }
    return layout;
}

CorrelationMeterBar::CorrelationMeterBar(QQuickItem* parent) : OnScreenPaintedItem(parent) {
    setPaintCoversItem(true);
    setAntialiasing(true);
}

int correlationLitSegments(double value, int segmentsPerSide) {
    if (!(value > 0.0) && !(value < 0.0)) {
        return 0;
    }
    const CorrelationSide side =
        value > 0.0 ? CorrelationSide::positive : CorrelationSide::negative;
    int lit = 0;
    while (lit < segmentsPerSide && correlationSegmentLit(value, lit, segmentsPerSide, side)) {
        ++lit;
    }
    return value > 0.0 ? lit : -lit;
}

// The smoothed correlation changes at every hand-over; the bar repaints only when another
// segment lights or goes out.
void CorrelationMeterBar::setValue(double value) {
    if (sameDouble(value_, value)) {
        return;
    }
    const int segments = clampedSegments(segmentsPerSide_);
    const bool redraw =
        correlationLitSegments(value_, segments) != correlationLitSegments(value, segments);
    value_ = value;
    if (redraw) {
        update();
    }
    emit valueChanged();
}

void CorrelationMeterBar::setSegmentsPerSide(int segments) {
    setItemProperty(this, segmentsPerSide_, segments, &CorrelationMeterBar::segmentsPerSideChanged);
}

void CorrelationMeterBar::paint(QPainter* painter) {
    blitCachedLayersPlainly(painter);
    const QSizeF size(width(), height());
    if (size.isEmpty()) {
        return;
    }
    painter->setRenderHint(QPainter::Antialiasing);
    const int n = clampedSegments(segmentsPerSide_);
    const QColor base = layerBase(*this);
    if (cachedLayerNeedsRebuild(unlitCache_, painter, size, base) || unlitCacheSegments_ != n) {
        unlitCache_ = renderCachedLayer(painter, size, base,
                                        [size, n](QPainter* p) { drawUnlitBar(p, size, n); });
        unlitCacheSegments_ = n;
    }
    painter->drawImage(QRectF(QPointF(0, 0), size), unlitCache_);

    if (!(value_ > 0.0) && !(value_ < 0.0)) {
        return;
    }
    const CorrelationBarLayout layout = correlationBarLayout(size, n);
    const CorrelationSide side =
        value_ > 0.0 ? CorrelationSide::positive : CorrelationSide::negative;
    const std::vector<QRectF>& rects = value_ > 0.0 ? layout.positive : layout.negative;
    painter->setPen(Qt::NoPen);
    for (int k = 0; k < n; ++k) {
        if (!correlationSegmentLit(value_, k, n, side)) {
            break;  // lit segments are contiguous from the centre outward
        }
        painter->setBrush(segmentPaletteColor(correlationSegmentPosition(k, n)));
        painter->drawRoundedRect(rects[k], kSegmentRadius, kSegmentRadius);
    }
}

}  // namespace orvinta
