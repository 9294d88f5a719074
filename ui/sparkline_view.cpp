#include "ui/sparkline_view.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "ui/canvas_painting.h"
#include "ui/item_property.h"
#include "ui/theme.h"
#include "ui/view_values.h"

namespace orvinta {

namespace {

constexpr double kCornerRadius = 6.0;
constexpr double kLineWidth = 1.5;
constexpr double kGridStepLUFS = 15.0;
constexpr std::size_t kMaxGridLines = 400;
// The loudness values change once per 100 ms hop, so a line that only scrolls is redrawn at most
// once a hop.
constexpr double kHopSeconds = 0.1;

}  // namespace

std::optional<SparklineMetric> sparklineMetricFromRawValue(const QString& rawValue) {
    if (rawValue == QLatin1String("M")) {
        return SparklineMetric::momentary;
    }
    if (rawValue == QLatin1String("S")) {
        return SparklineMetric::shortTerm;
    }
    return std::nullopt;
}

double sparklineValue(const HistoryPoint& point, SparklineMetric metric) {
    return metric == SparklineMetric::momentary ? point.momentaryLUFS : point.shortTermLUFS;
}

double sparklineY(double v, double minLUFS, double maxLUFS, double h) {
    const double f = (v - minLUFS) / (maxLUFS - minLUFS);
    if (f > 0.0) {
        return h * (1.0 - std::min(f, 1.0));
    }
    return h;
}

std::vector<double> sparklineGridLevels(double minLUFS) {
    std::vector<double> levels;
    if (!std::isfinite(minLUFS) || minLUFS > 0.0) {
        return levels;
    }
    for (double level = 0.0; level >= minLUFS && levels.size() < kMaxGridLines;
         level -= kGridStepLUFS) {
        levels.push_back(level);
    }
    return levels;
}

QPolygonF sparklinePoints(const QList<HistoryPoint>& history, double windowSeconds,
                          SparklineMetric metric, double minLUFS, double maxLUFS, QSizeF size) {
    QPolygonF points;
    if (history.isEmpty()) {
        return points;
    }
    const double tLast = history.back().elapsedSeconds;
    const double start = tLast - windowSeconds;
    const double t0 = std::max(start, 0.0);
    const double span = start >= 0.0 ? tLast - start : tLast;
    const double d = span <= 0.001 ? 0.001 : span;
    const double w = size.width();
    const double h = size.height();

    points.reserve(history.size());
    for (const HistoryPoint& point : history) {
        if (point.elapsedSeconds < t0) {
            continue;
        }
        const double value = sparklineValue(point, metric);
        if (!std::isfinite(value)) {
            continue;
        }
        const double x = (point.elapsedSeconds - t0) / d * w;
        if (!std::isfinite(x)) {
            continue;
        }
        points.append(QPointF(x, sparklineY(value, minLUFS, maxLUFS, h)));
    }
    return points;
}

bool sparklineMovesVisibly(const std::optional<HistoryPoint>& drawnNewest,
                           const QList<HistoryPoint>& history, double windowSeconds,
                           SparklineMetric metric, double width) {
    if (!drawnNewest || history.isEmpty()) {
        return drawnNewest.has_value() != !history.isEmpty();
    }
    const HistoryPoint& newest = history.back();
    if (!sameDouble(sparklineValue(newest, metric), sparklineValue(*drawnNewest, metric)) ||
        newest.elapsedSeconds < drawnNewest->elapsedSeconds) {
        return true;
    }
    // Seconds per pixel column: the time axis spans the window, or the time elapsed until the
    // window has filled.
    const double span = std::min(std::max(newest.elapsedSeconds, 0.0), windowSeconds);
    const double secondsPerColumn = width > 0.0 ? span / width : 0.0;
    return !(newest.elapsedSeconds - drawnNewest->elapsedSeconds <
             std::max(secondsPerColumn, kHopSeconds));
}

SparklineView::SparklineView(QQuickItem* parent)
    : OnScreenPaintedItem(parent), color_(Theme::green()) {
    setPaintCoversItem(true);
    setAntialiasing(true);
}

void SparklineView::setHistory(const HistoryPointList& history) {
    if (history_ == history) {
        return;
    }
    history_ = history;
    const QList<HistoryPoint>& points = history_.points();
    const std::optional<SparklineMetric> metric = sparklineMetricFromRawValue(metric_);
    if (!metric || sparklineMovesVisibly(drawnNewest_, points, windowSeconds_, *metric, width())) {
        drawnNewest_ = points.isEmpty() ? std::nullopt : std::optional(points.back());
        update();
    }
    emit historyChanged();
}

void SparklineView::setWindowSeconds(double seconds) {
    setItemProperty(this, windowSeconds_, seconds, &SparklineView::windowSecondsChanged);
}

void SparklineView::setMetric(const QString& metric) {
    setItemProperty(this, metric_, metric, &SparklineView::metricChanged);
}

void SparklineView::setColor(const QColor& color) {
    setItemProperty(this, color_, color, &SparklineView::colorChanged);
}

void SparklineView::setMinLUFS(double lufs) {
    setItemProperty(this, minLUFS_, lufs, &SparklineView::minLUFSChanged);
}

void SparklineView::setMaxLUFS(double lufs) {
    setItemProperty(this, maxLUFS_, lufs, &SparklineView::maxLUFSChanged);
}

void SparklineView::drawGrid(QPainter* painter, QSizeF size) const {
    const double w = size.width();
    const double h = size.height();
    painter->fillPath(roundedRectPath(QRectF(QPointF(0, 0), size), kCornerRadius),
                      Theme::canvasBackground());
    painter->setClipPath(roundedRectPath(QRectF(QPointF(0, 0), size), kCornerRadius));
    for (double level : sparklineGridLevels(minLUFS_)) {
        const double y = sparklineY(level, minLUFS_, maxLUFS_, h);
        painter->setPen(QPen(Theme::whiteAlpha(level == 0.0 ? 0.28 : 0.14), 1.0));
        painter->drawLine(QPointF(0, y), QPointF(w, y));
    }
    painter->setPen(QPen(Theme::whiteAlpha(0.1), 1.0));
    for (double fraction : {0.25, 0.5, 0.75}) {
        painter->drawLine(QPointF(w * fraction, 0), QPointF(w * fraction, h));
    }
}

void SparklineView::paint(QPainter* painter) {
    blitCachedLayersPlainly(painter);
    const QSizeF size(width(), height());
    if (size.isEmpty()) {
        return;
    }
    painter->setRenderHint(QPainter::Antialiasing);

    const bool gridStale = gridCacheMin_ != minLUFS_ || gridCacheMax_ != maxLUFS_;
    const QColor base = layerBase(*this);
    if (cachedLayerNeedsRebuild(gridCache_, painter, size, base) || gridStale) {
        gridCache_ = renderCachedLayer(painter, size, base,
                                       [this, size](QPainter* p) { drawGrid(p, size); });
        gridCacheMin_ = minLUFS_;
        gridCacheMax_ = maxLUFS_;
    }
    painter->drawImage(QRectF(QPointF(0, 0), size), gridCache_);

    const std::optional<SparklineMetric> metric = sparklineMetricFromRawValue(metric_);
    if (!metric) {
        return;
    }
    const QPolygonF line =
        sparklinePoints(history_.points(), windowSeconds_, *metric, minLUFS_, maxLUFS_, size);
    if (line.size() < 2) {
        return;
    }
    if (reachesRoundedCorner(line, size, kCornerRadius)) {
        painter->setClipPath(roundedRectPath(QRectF(QPointF(0, 0), size), kCornerRadius));
    }
    drawStrokedPolyline(painter, line, color_, kLineWidth);
}

}  // namespace orvinta
