#include "ui/true_peak_bar_view.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "ui/canvas_painting.h"
#include "ui/item_property.h"
#include "ui/meter_bar_view.h"
#include "ui/paint_layer.h"
#include "ui/peak_hold_driver.h"
#include "ui/scale_fraction.h"
#include "ui/theme.h"
#include "ui/view_clock.h"
#include "ui/view_values.h"

namespace orvinta {

namespace {

constexpr double kStackSpacing = 4.0;
constexpr double kHeaderSpacing = 8.0;
constexpr double kBarHeight = 18.0;
constexpr double kSegmentGap = 2.0;
constexpr double kCellSpacing = 8.0;
constexpr double kMarkerWidth = 2.0;

QFont captionFont() {
    return Theme::font(18, Theme::Weight::Semibold);
}
QFont readoutFont() {
    return Theme::monoFont(28, Theme::Weight::Bold);
}
QFont unitFont() {
    return Theme::font(14);
}
QFont scaleFont() {
    return Theme::monoFont(13);
}

}  // namespace

QColor truePeakSegmentColor(int index, int segmentCount) {
    const double p = segmentPosition(index, segmentCount);
    if (p > 0.9) {
        return Theme::red();
    }
    if (p > 0.72) {
        return Theme::yellow();
    }
    return Theme::green();
}

QRectF truePeakSegmentRect(const QRectF& bar, int index, int segmentCount) {
    if (segmentCount <= 0) {
        return {};
    }
    const double width = (bar.width() - kSegmentGap * (segmentCount - 1)) / segmentCount;
    if (!(width > 0.0) || bar.height() <= 0.0) {
        return {};
    }
    return QRectF(bar.left() + index * (width + kSegmentGap), bar.top(), width, bar.height());
}

double truePeakMarkerX(double barWidth, double fraction) {
    return std::max(0.0, barWidth * fraction - 1.0);
}

QString truePeakReadout(double peakValue, double value, double minValue) {
    if (std::isfinite(peakValue) && peakValue > minValue) {
        return QString::asprintf("%.1f", peakValue);
    }
    return Theme::formatValue(value);
}

TruePeakBarLayout truePeakBarLayout(QSizeF size) {
    const QFontMetricsF caption(captionFont());
    const QFontMetricsF readout(readoutFont());
    const QFontMetricsF unit(unitFont());
    const double ascent = std::max({caption.ascent(), readout.ascent(), unit.ascent()});
    const double descent = std::max({caption.descent(), readout.descent(), unit.descent()});

    TruePeakBarLayout layout;
    layout.headerBaseline = std::ceil(ascent);
    const double barTop = std::ceil(ascent + descent) + kStackSpacing;
    layout.bar = QRectF(0.0, barTop, size.width(), kBarHeight);
    layout.scaleRow = QRectF(0.0, layout.bar.bottom() + kStackSpacing, size.width(),
                             QFontMetricsF(scaleFont()).height());
    return layout;
}

std::vector<QRectF> truePeakScaleCells(const QRectF& row, int tickCount) {
    std::vector<QRectF> cells;
    if (tickCount <= 0) {
        return cells;
    }
    const double width = std::max(0.0, (row.width() - kCellSpacing * (tickCount - 1)) / tickCount);
    cells.reserve(static_cast<std::size_t>(tickCount));
    for (int i = 0; i < tickCount; ++i) {
        cells.emplace_back(row.left() + i * (width + kCellSpacing), row.top(), width, row.height());
    }
    return cells;
}

double truePeakBarFraction(double value, const QList<double>& ticks, double width, double minValue,
                           double maxValue) {
    const bool ticksRise =
        std::adjacent_find(ticks.cbegin(), ticks.cend(), std::greater_equal<>()) == ticks.cend();
    if (ticks.size() < 2 || !ticksRise || !(width > 0.0)) {
        return meterFillFraction(value, minValue, maxValue);
    }
    const std::vector<QRectF> cells =
        truePeakScaleCells(QRectF(0.0, 0.0, width, 0.0), static_cast<int>(ticks.size()));
    std::vector<double> places;
    places.reserve(cells.size());
    for (const QRectF& cell : cells) {
        places.push_back(cell.center().x() / width);
    }
    places.front() = 0.0;
    places.back() = 1.0;
    return scaleFraction(value, std::span<const double>(ticks.constData(), ticks.size()), places);
}

TruePeakBarView::TruePeakBarView(QQuickItem* parent)
    : OnScreenPaintedItem(parent), value_(-std::numeric_limits<double>::infinity()) {
    setPaintCoversItem(true);
    setAntialiasing(true);
    setImplicitWidth(320.0);
    setImplicitHeight(std::ceil(truePeakBarLayout(QSizeF(320.0, 0.0)).scaleRow.bottom()));
    PeakHoldDriver::subscribe(this, static_cast<int>(kTickInterval * 1000.0),
                              [this] { peakTick(); });
}

void TruePeakBarView::classBegin() {
    OnScreenPaintedItem::classBegin();
    building_ = true;
}

void TruePeakBarView::componentComplete() {
    building_ = false;
    OnScreenPaintedItem::componentComplete();
}

void TruePeakBarView::setLabel(const QString& label) {
    setItemProperty(this, label_, label, &TruePeakBarView::labelChanged);
}

TruePeakBarView::Picture TruePeakBarView::picture() const {
    // The bar spans the item's width.
    const double fraction = truePeakBarFraction(value_, scaleTicks_, width(), minValue_, maxValue_);
    return {litSegmentCount(fraction, segmentCount_),
            truePeakReadout(peak_.peakValue(), value_, minValue_)};
}

// The true peak changes with every snapshot; the bar repaints only when its picture changes:
// another segment lights or goes out, the held peak moves, or the read-out reads otherwise.
void TruePeakBarView::setValue(double value) {
    if (sameDouble(value_, value)) {
        return;
    }
    const Picture before = picture();
    value_ = value;
    const bool peakMoved = !building_ && peak_.raise(value, ViewClock::now());
    if (peakMoved || picture() != before) {
        update();
    }
    emit valueChanged();
    if (peakMoved) {
        emit peakValueChanged();
    }
}

void TruePeakBarView::setMinValue(double value) {
    setItemProperty(this, minValue_, value, &TruePeakBarView::minValueChanged);
}

void TruePeakBarView::setMaxValue(double value) {
    setItemProperty(this, maxValue_, value, &TruePeakBarView::maxValueChanged);
}

void TruePeakBarView::setUnit(const QString& unit) {
    setItemProperty(this, unit_, unit, &TruePeakBarView::unitChanged);
}

void TruePeakBarView::setPeakOverThreshold(const QVariant& threshold) {
    setItemProperty(this, peakOverThreshold_, threshold,
                    &TruePeakBarView::peakOverThresholdChanged);
}

void TruePeakBarView::setSegmentCount(int count) {
    setItemProperty(this, segmentCount_, count, &TruePeakBarView::segmentCountChanged);
}

void TruePeakBarView::setScaleTicks(const QList<double>& ticks) {
    setItemProperty(this, scaleTicks_, ticks, &TruePeakBarView::scaleTicksChanged);
}

void TruePeakBarView::setPeakHoldSeconds(double seconds) {
    setItemProperty(this, peakHoldSeconds_, seconds, &TruePeakBarView::peakHoldSecondsChanged);
}

void TruePeakBarView::setPeakDecayRate(double rate) {
    setItemProperty(this, peakDecayRate_, rate, &TruePeakBarView::peakDecayRateChanged);
}

void TruePeakBarView::setIdentity(int identity) {
    // A new identity is a new meter: no held peak. The value present now is the one it is first
    // shown with, so it does not raise the peak.
    bool hadPeak = false;
    setItemProperty(this, identity_, identity, &TruePeakBarView::identityChanged, [&] {
        hadPeak = std::isfinite(peak_.peakValue());
        peak_.clear();
    });
    if (hadPeak) {
        emit peakValueChanged();
    }
}

void TruePeakBarView::peakTick() {
    const double step = peakDecayRate_ * kTickInterval;
    if (peak_.decay(ViewClock::now(), minValue_, peakHoldSeconds_, step, value_)) {
        update();
        emit peakValueChanged();
    }
}

void TruePeakBarView::ensureCache(qreal dpr) {
    const CacheKey key{size(), dpr, segmentCount_, label_, scaleTicks_, layerBase(*this)};
    if (key == cacheKey_ && !staticLayer_.isNull()) {
        return;
    }
    cacheKey_ = key;
    layout_ = truePeakBarLayout(size());
    readoutLeft_ = label_.isEmpty()
                       ? 0.0
                       : QFontMetricsF(captionFont()).horizontalAdvance(label_) + kHeaderSpacing;
    staticLayer_ = makeBaseLayer(size(), dpr, key.base);
    litSegments_ = makeTransparentLayer(size(), dpr);
    if (staticLayer_.isNull() || litSegments_.isNull()) {
        return;
    }

    QPainter p(&staticLayer_);
    drawLayerInPoints(p);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    p.setFont(captionFont());
    p.setPen(Theme::cyan());
    p.drawText(QPointF(0.0, layout_.headerBaseline), label_);

    QPainter lit(&litSegments_);
    drawLayerInPoints(lit);
    lit.setRenderHint(QPainter::Antialiasing);
    lit.setPen(Qt::NoPen);
    p.setPen(Qt::NoPen);
    p.setBrush(Theme::whiteAlpha(0.08));
    for (int i = 0; i < segmentCount_; ++i) {
        const QRectF segment = truePeakSegmentRect(layout_.bar, i, segmentCount_);
        if (segment.isEmpty()) {
            break;
        }
        p.drawRoundedRect(segment, 1.5, 1.5);
        lit.setBrush(truePeakSegmentColor(i, segmentCount_));
        lit.drawRoundedRect(segment, 1.5, 1.5);
    }

    p.setFont(scaleFont());
    p.setPen(Theme::whiteAlpha(0.75));
    const int tickCount = static_cast<int>(scaleTicks_.size());
    const std::vector<QRectF> cells = truePeakScaleCells(layout_.scaleRow, tickCount);
    for (int i = 0; i < tickCount; ++i) {
        Qt::Alignment align = Qt::AlignHCenter;
        if (i == 0) {
            align = Qt::AlignLeft;
        } else if (i == tickCount - 1) {
            align = Qt::AlignRight;
        }
        p.drawText(cells[static_cast<std::size_t>(i)], align | Qt::AlignVCenter,
                   QString::asprintf("%.0f", scaleTicks_[i]));
    }
}

void TruePeakBarView::paint(QPainter* painter) {
    blitCachedLayersPlainly(painter);
    if (width() <= 0.0 || height() <= 0.0) {
        return;
    }
    const qreal dpr = paintScale(painter);
    ensureCache(dpr);
    const QRectF bar = layout_.bar;

    const qint64 layer = staticLayer_.cacheKey();
    const int age = imageAge();
    if (age == 2 && drawnOver_[1] == layer) {
        // The image shows this layer with the bar and read-out of two repaints ago: only they
        // are put back; the label and the scale stay.
        const auto restore = [&] { painter->drawImage(QPointF(0.0, 0.0), staticLayer_); };
        drawWithinWholePixels(painter, bar.adjusted(-1, -1, 1, 1), restore);
        drawWithinWholePixels(
            painter, QRectF(readoutLeft_ - 1, 0, width() - readoutLeft_ + 1, bar.top()), restore);
    } else {
        painter->drawImage(QPointF(0.0, 0.0), staticLayer_);
    }
    if (age >= 0) {
        drawnOver_ = {layer, drawnOver_[0]};
    }

    // Lit segments: the part of the lit row left of the middle of the gap after the last lit
    // segment.
    const int lit = litSegmentCount(
        truePeakBarFraction(value_, scaleTicks_, bar.width(), minValue_, maxValue_), segmentCount_);
    if (lit > 0) {
        const QRectF last = truePeakSegmentRect(bar, lit - 1, segmentCount_);
        if (!last.isEmpty()) {
            const double cut = lit >= segmentCount_ ? bar.right() : last.right() + kSegmentGap / 2;
            const QRectF target(bar.left(), bar.top(), cut - bar.left(), bar.height());
            const QRectF source(target.topLeft() * dpr, target.size() * dpr);
            painter->drawImage(target, litSegments_, source);
        }
    }

    const double held = peak_.peakValue();
    if (peakFraction(held, minValue_, maxValue_)) {
        const double fraction =
            truePeakBarFraction(held, scaleTicks_, bar.width(), minValue_, maxValue_);
        const double x = bar.left() + truePeakMarkerX(bar.width(), fraction);
        painter->fillRect(
            QRectF(x, bar.top(), kMarkerWidth, bar.height()),
            peakMarkerColor(peak_.peakValue(), optionalDouble(peakOverThreshold_), Theme::white()));
    }

    // Header: caption (cached), read-out and unit on one baseline, 8 points apart.
    const double baseline = layout_.headerBaseline;
    const QString readout = truePeakReadout(peak_.peakValue(), value_, minValue_);
    painter->setRenderHint(QPainter::TextAntialiasing);
    painter->setPen(Theme::text());
    const double x =
        readoutLeft_ +
        readoutRuns_.draw(*painter, readoutFont(), QPointF(readoutLeft_, baseline), readout) +
        kHeaderSpacing;
    painter->setPen(Theme::whiteAlpha(0.75));
    unitRuns_.draw(*painter, unitFont(), QPointF(x, baseline), unit_);
}

}  // namespace orvinta
