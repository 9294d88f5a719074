#include "ui/spectrum_canvas_view.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "ui/canvas_painting.h"
#include "ui/item_property.h"
#include "ui/theme.h"

namespace orvinta {

namespace {

constexpr double kCornerRadius = 8.0;
constexpr double kLowestHz = 20.0;
constexpr double kDecadesSpanned = 1000.0;  // 20 Hz ... 20 kHz
constexpr float kGridStepDB = 12.0f;
constexpr std::size_t kMaxGridLines = 400;
constexpr double kChannelLineWidth = 1.4;
constexpr double kAverageLineWidth = 1.6;
constexpr int kLabelPointSize = 9;

// A whole number as printf's "%lld" writes it, for any double (the fraction is dropped).
QString wholeNumber(double value) {
    if (std::isnan(value)) {
        return QStringLiteral("0");
    }
    constexpr double kLimit = 9.0e18;
    const auto whole = static_cast<long long>(std::clamp(value, -kLimit, kLimit));
    return QString::number(whole);
}

void drawLabel(QPainter* painter, QPointF centre, const QString& text, QSizeF canvas) {
    const QFontMetricsF metrics(painter->font());
    const QSizeF textSize(metrics.horizontalAdvance(text), metrics.height());
    painter->drawText(spectrumLabelRect(centre, textSize, canvas), Qt::AlignCenter, text);
}

}  // namespace

QRectF spectrumLabelRect(QPointF centre, QSizeF textSize, QSizeF canvas) {
    static constexpr double kLabelMargin = 2.0;
    auto place = [](double middle, double length, double room) {
        const double start = middle - length / 2.0;
        const double last = room - kLabelMargin - length;
        return std::max(kLabelMargin, std::min(start, last));
    };
    return QRectF(place(centre.x(), textSize.width(), canvas.width()),
                  place(centre.y(), textSize.height(), canvas.height()), textSize.width(),
                  textSize.height());
}

QList<ChannelMode> allChannelModes() {
    return {ChannelMode::both, ChannelMode::left, ChannelMode::right};
}

QString rawValue(ChannelMode mode) {
    switch (mode) {
        case ChannelMode::both:
            return QStringLiteral("L+R");
        case ChannelMode::left:
            return QStringLiteral("L");
        case ChannelMode::right:
            return QStringLiteral("R");
    }
    return {};
}

std::optional<ChannelMode> channelModeFromRawValue(const QString& raw) {
    for (ChannelMode mode : allChannelModes()) {
        if (rawValue(mode) == raw) {
            return mode;
        }
    }
    return std::nullopt;
}

double spectrumX(double frequencyHz, double w) {
    const double t = std::log(frequencyHz / kLowestHz) / std::log(kDecadesSpanned);
    // Zero and negative frequencies (and NaN) belong to the left edge.
    if (!(t > 0.0)) {
        return 0.0;
    }
    return w * std::min(t, 1.0);
}

double spectrumY(float v, float minDB, float maxDB, double h) {
    float q = (v - minDB) / (maxDB - minDB);
    if (!(q > 0.0f)) {
        q = 0.0f;
    } else if (q > 1.0f) {
        q = 1.0f;
    }
    return (1.0 - q) * h;
}

std::vector<float> spectrumGridLevels(float minDB, float maxDB) {
    std::vector<float> levels;
    if (!std::isfinite(minDB) || !std::isfinite(maxDB)) {
        return levels;
    }
    for (float level = maxDB; level >= minDB && levels.size() < kMaxGridLines;
         level -= kGridStepDB) {
        levels.push_back(level);
    }
    return levels;
}

QString spectrumLevelLabel(float level) {
    return wholeNumber(level);
}

QString spectrumFrequencyLabel(double frequencyHz) {
    if (frequencyHz >= 1000.0) {
        return wholeNumber(frequencyHz / 1000.0) + QLatin1Char('k');
    }
    return wholeNumber(frequencyHz);
}

SpectrumCurveSelection spectrumCurvesToDraw(ChannelMode mode,
                                            const std::vector<std::vector<float>>& rows) {
    const bool hasLeft = !rows.empty() && !rows[0].empty();
    const bool hasRight = rows.size() > 1 && !rows[1].empty();
    SpectrumCurveSelection selection;
    selection.left = mode != ChannelMode::right && hasLeft;
    selection.right = mode != ChannelMode::left && hasRight;
    selection.average =
        mode == ChannelMode::both && hasLeft && rows.size() > 1 && rows[0].size() == rows[1].size();
    return selection;
}

std::optional<std::vector<float>> spectrumAverage(const std::vector<float>& row0,
                                                  const std::vector<float>& row1) {
    if (row0.size() != row1.size()) {
        return std::nullopt;
    }
    std::vector<float> average(row0.size());
    for (std::size_t i = 0; i < row0.size(); ++i) {
        average[i] = (row0[i] + row1[i]) * 0.5f;
    }
    return average;
}

QPolygonF spectrumCurve(const std::vector<float>& row, float minDB, float maxDB, QSizeF size) {
    QPolygonF curve;
    const std::size_t n = row.size();
    curve.reserve(static_cast<qsizetype>(n));
    const double last = n > 1 ? static_cast<double>(n - 1) : 1.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = n > 1 ? size.width() * static_cast<double>(i) / last : 0.0;
        curve.append(QPointF(x, spectrumY(row[i], minDB, maxDB, size.height())));
    }
    return curve;
}

SpectrumCanvasView::SpectrumCanvasView(QQuickItem* parent) : OnScreenPaintedItem(parent) {
    setPaintCoversItem(true);
    setAntialiasing(true);
}

void SpectrumCanvasView::setSpectrumDB(const SpectrumRows& rows) {
    setItemProperty(this, spectrumDB_, rows, &SpectrumCanvasView::spectrumDBChanged);
}

void SpectrumCanvasView::setMode(const QString& mode) {
    setItemProperty(this, mode_, mode, &SpectrumCanvasView::modeChanged);
}

void SpectrumCanvasView::setMinDB(float db) {
    setItemProperty(this, minDB_, db, &SpectrumCanvasView::minDBChanged,
                    [this] { gridStale_ = true; });
}

void SpectrumCanvasView::setMaxDB(float db) {
    setItemProperty(this, maxDB_, db, &SpectrumCanvasView::maxDBChanged,
                    [this] { gridStale_ = true; });
}

void SpectrumCanvasView::setReferenceHz(const QList<double>& frequencies) {
    setItemProperty(this, referenceHz_, frequencies, &SpectrumCanvasView::referenceHzChanged,
                    [this] { gridStale_ = true; });
}

void SpectrumCanvasView::drawGrid(QPainter* painter, QSizeF size) const {
    const double w = size.width();
    const double h = size.height();
    const QRectF bounds(QPointF(0, 0), size);
    painter->fillPath(roundedRectPath(bounds, kCornerRadius), Theme::canvasBackground());
    painter->setClipPath(roundedRectPath(bounds, kCornerRadius));
    painter->setFont(Theme::font(kLabelPointSize));
    const QColor labelColor = Theme::whiteAlpha(0.55);

    for (float level : spectrumGridLevels(minDB_, maxDB_)) {
        const double y = spectrumY(level, minDB_, maxDB_, h);
        painter->setPen(QPen(Theme::whiteAlpha(level == 0.0f ? 0.22 : 0.08), 1.0));
        painter->drawLine(QPointF(0, y), QPointF(w, y));
        painter->setPen(labelColor);
        drawLabel(painter, QPointF(14.0, y - 6.0), spectrumLevelLabel(level), size);
    }
    for (double frequency : referenceHz_) {
        if (std::isnan(frequency)) {
            continue;
        }
        const double x = spectrumX(frequency, w);
        painter->setPen(QPen(Theme::whiteAlpha(0.08), 1.0));
        painter->drawLine(QPointF(x, 0), QPointF(x, h));
        painter->setPen(labelColor);
        drawLabel(painter, QPointF(x, h - 8.0), spectrumFrequencyLabel(frequency), size);
    }
}

SpectrumCanvasView::CurveRows SpectrumCanvasView::curveRows() const {
    const std::optional<ChannelMode> mode = channelModeFromRawValue(mode_);
    if (!mode) {
        return {};
    }
    const std::vector<std::vector<float>>& rows = spectrumDB_.rows();
    const SpectrumCurveSelection curves = spectrumCurvesToDraw(*mode, rows);
    // The average lies between the two channels, so their extremes bound it.
    float lowest = std::numeric_limits<float>::infinity();
    float highest = -std::numeric_limits<float>::infinity();
    bool any = false;
    for (std::size_t channel = 0; channel < 2; ++channel) {
        const bool drawn =
            channel == 0 ? curves.left || curves.average : curves.right || curves.average;
        if (!drawn) {
            continue;
        }
        for (float v : rows[channel]) {
            // NaN stands at the bottom, like the lowest level.
            lowest = std::isnan(v) ? -std::numeric_limits<float>::infinity() : std::min(lowest, v);
            highest = std::isnan(v) ? highest : std::max(highest, v);
            any = true;
        }
    }
    if (!any) {
        return {};
    }
    // Half the widest line, and a pixel or two for its antialiased edge.
    const double margin = kAverageLineWidth / 2.0 + 2.0;
    return {spectrumY(highest, minDB_, maxDB_, height()) - margin,
            spectrumY(lowest, minDB_, maxDB_, height()) + margin};
}

void SpectrumCanvasView::paint(QPainter* painter) {
    blitCachedLayersPlainly(painter);
    const QSizeF size(width(), height());
    if (size.isEmpty()) {
        return;
    }
    painter->setRenderHint(QPainter::Antialiasing);
    const QColor base = layerBase(*this);
    if (gridStale_ || cachedLayerNeedsRebuild(gridCache_, painter, size, base)) {
        gridCache_ = renderCachedLayer(painter, size, base,
                                       [this, size](QPainter* p) { drawGrid(p, size); });
        gridStale_ = false;
    }
    const QRectF bounds(QPointF(0, 0), size);
    const int age = imageAge();
    const DrawnCurves twoAgo = drawnCurves_[1];
    if (age == 2 && twoAgo.valid && twoAgo.grid == gridCache_.cacheKey() && twoAgo.size == size) {
        // The image shows the grid and the curves of two repaints ago: the grid goes back only
        // under those curves.
        if (!twoAgo.rows.empty()) {
            drawWithinWholePixels(
                painter,
                QRectF(0, twoAgo.rows.top, size.width(), twoAgo.rows.bottom - twoAgo.rows.top),
                [&] { painter->drawImage(bounds, gridCache_); });
        }
    } else {
        painter->drawImage(bounds, gridCache_);
    }
    if (age >= 0) {
        drawnCurves_[1] = drawnCurves_[0];
        drawnCurves_[0] = {true, gridCache_.cacheKey(), size, curveRows()};
    }

    const std::optional<ChannelMode> mode = channelModeFromRawValue(mode_);
    if (!mode) {
        return;
    }
    const std::vector<std::vector<float>>& rows = spectrumDB_.rows();
    SpectrumCurveSelection curves = spectrumCurvesToDraw(*mode, rows);
    if (!curves.left && !curves.right && !curves.average) {
        return;
    }
    // Two equal channels (a mono source) have their average on the very same line, drawn over
    // them wider: theirs would not show.
    if (curves.average && rows[0] == rows[1]) {
        curves.left = false;
        curves.right = false;
    }
    struct Curve {
        QPolygonF points;
        QColor color;
        double width;
    };
    std::array<Curve, 3> drawn;
    std::size_t count = 0;
    if (curves.left) {
        drawn[count++] = {spectrumCurve(rows[0], minDB_, maxDB_, size), Theme::cyan(),
                          kChannelLineWidth};
    }
    if (curves.right) {
        drawn[count++] = {spectrumCurve(rows[1], minDB_, maxDB_, size), Theme::pink(),
                          kChannelLineWidth};
    }
    if (curves.average) {
        if (const auto average = spectrumAverage(rows[0], rows[1])) {
            drawn[count++] = {spectrumCurve(*average, minDB_, maxDB_, size), Theme::white(),
                              kAverageLineWidth};
        }
    }
    const auto begin = drawn.begin();
    const auto end = drawn.begin() + static_cast<std::ptrdiff_t>(count);
    if (std::any_of(begin, end, [size](const Curve& c) {
            return reachesRoundedCorner(c.points, size, kCornerRadius);
        })) {
        painter->setClipPath(roundedRectPath(bounds, kCornerRadius), Qt::IntersectClip);
    }
    for (auto it = begin; it != end; ++it) {
        drawStrokedPolyline(painter, it->points, it->color, it->width);
    }
}

}  // namespace orvinta
