#include "ui/meter_bar_view.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "ui/canvas_painting.h"
#include "ui/item_property.h"
#include "ui/paint_layer.h"
#include "ui/peak_hold_driver.h"
#include "ui/theme.h"
#include "ui/view_clock.h"
#include "ui/view_values.h"

namespace orvinta {

namespace {

constexpr double kScaleColumnWidth = 30.0;
constexpr double kRowSpacing = 4.0;
constexpr double kStackSpacing = 6.0;
constexpr double kMinBarWidth = 16.0;
constexpr double kMaxBarWidth = 24.0;
constexpr double kSegmentInset = 3.0;
constexpr double kSegmentGap = 2.0;
constexpr double kTargetLineHeight = 3.0;
constexpr double kPeakLineHeight = 2.0;
constexpr double kGlowRadius = 3.0;
// Scale labels hang 6 points below their level.
constexpr double kScaleLabelDrop = 6.0;
constexpr std::size_t kMaxScaleTicks = 1000;

QFont labelFont() {
    return Theme::font(14);
}
QFont scaleFont() {
    return Theme::monoFont(12);
}
QFont valueFont() {
    return Theme::monoFont(16, Theme::Weight::Semibold);
}

// A filled rectangle with a soft halo of the given colour around it: a few widening, faint
// rounded outlines stand in for a blur of the given radius.
void fillWithGlow(QPainter* painter, const QRectF& rect, const QColor& fill, const QColor& glow,
                  double radius) {
    painter->setPen(Qt::NoPen);
    constexpr int kRings = 3;
    for (int ring = kRings; ring >= 1; --ring) {
        const double grow = radius * ring / kRings;
        painter->setBrush(Theme::withAlpha(glow, glow.alphaF() * 0.28));
        painter->drawRoundedRect(rect.adjusted(-grow, -grow, grow, grow), grow, grow);
    }
    painter->setBrush(fill);
    painter->drawRect(rect);
}

}  // namespace

double meterFillFraction(double value, double minValue, double maxValue) {
    if (!std::isfinite(value)) {
        return 0.0;
    }
    const double f = (value - minValue) / (maxValue - minValue);
    if (!(f > 0.0)) {
        return 0.0;
    }
    return std::min(f, 1.0);
}

int litSegmentCount(double fraction, int segmentCount) {
    if (segmentCount <= 0 || !(fraction > 0.0)) {
        return 0;
    }
    const double lit = std::floor(std::min(fraction, 1.0) * segmentCount);
    return static_cast<int>(lit);
}

double segmentPosition(int index, int segmentCount) {
    if (segmentCount <= 1) {
        return 0.0;
    }
    return static_cast<double>(index) / (segmentCount - 1);
}

QColor meterSegmentColor(int index, int segmentCount) {
    return segmentPaletteColor(segmentPosition(index, segmentCount));
}

double meterScaleStep(double minValue, double maxValue) {
    const double range = maxValue - minValue;
    if (!(range > 0.0)) {
        return 12.0;
    }
    static constexpr std::array<double, 9> kSteps = {1, 2, 3, 5, 10, 15, 20, 25, 50};
    for (double step : kSteps) {
        if (step >= range / 10.0) {
            return step;
        }
    }
    return 50.0;
}

std::vector<double> meterScaleTicks(double minValue, double maxValue) {
    std::vector<double> ticks;
    if (!std::isfinite(minValue) || !std::isfinite(maxValue)) {
        return ticks;
    }
    const double step = meterScaleStep(minValue, maxValue);
    const double start = step * std::floor(maxValue / step);
    // Count downwards in whole steps so that rounding never accumulates.
    for (std::size_t n = 0; ticks.size() < kMaxScaleTicks; ++n) {
        const double tick = start - step * static_cast<double>(n);
        if (!(tick >= minValue)) {
            break;
        }
        if (tick <= maxValue) {
            ticks.push_back(tick);
        }
    }
    return ticks;
}

QRectF meterSegmentRect(const QRectF& bar, int index, int segmentCount) {
    if (segmentCount <= 0) {
        return {};
    }
    const QRectF inner = bar.adjusted(kSegmentInset, kSegmentInset, -kSegmentInset, -kSegmentInset);
    const double height = (inner.height() - kSegmentGap * (segmentCount - 1)) / segmentCount;
    if (!(height > 0.0) || inner.width() <= 0.0) {
        return {};
    }
    const double bottom = inner.bottom() - index * (height + kSegmentGap);
    return QRectF(inner.left(), bottom - height, inner.width(), height);
}

QColor peakMarkerColor(double peakValue, std::optional<double> overThreshold, QColor normal) {
    if (overThreshold && *overThreshold < peakValue) {
        return Theme::red();
    }
    return normal;
}

MeterBarLayout meterBarLayout(QSizeF size, bool showLabel, bool showScale, bool showValue) {
    MeterBarLayout layout;
    const double width = size.width();
    double top = 0.0;
    double bottom = size.height();
    if (showLabel) {
        const double h = QFontMetricsF(labelFont()).height();
        layout.label = QRectF(0.0, top, width, h);
        top += h + kStackSpacing;
    }
    if (showValue) {
        const double h = QFontMetricsF(valueFont()).height();
        layout.valueText = QRectF(0.0, bottom - h, width, h);
        bottom -= h + kStackSpacing;
    }
    // Room for the halo of a target line at the very top and for the scale labels that hang
    // over both ends of the column.
    double topPad = kTargetLineHeight + kGlowRadius;
    double bottomPad = 0.0;
    if (showScale) {
        const double labelHeight = QFontMetricsF(scaleFont()).height();
        topPad = std::max(topPad, std::ceil(labelHeight - kScaleLabelDrop));
        bottomPad = kScaleLabelDrop;
    }
    top += topPad;
    bottom -= bottomPad;
    const double rowHeight = std::max(0.0, bottom - top);

    const double scaleWidth = showScale ? kScaleColumnWidth + kRowSpacing : 0.0;
    const double barWidth = std::clamp(width - scaleWidth, kMinBarWidth, kMaxBarWidth);
    const double left = std::round((width - scaleWidth - barWidth) / 2.0);
    if (showScale) {
        layout.scaleColumn = QRectF(left, top, kScaleColumnWidth, rowHeight);
    }
    layout.bar = QRectF(left + scaleWidth, top, barWidth, rowHeight);
    return layout;
}

MeterBarView::MeterBarView(QQuickItem* parent)
    : OnScreenPaintedItem(parent),
      value_(-std::numeric_limits<double>::infinity()),
      accent_(Theme::green()) {
    setPaintCoversItem(true);
    setAntialiasing(true);
    // The scale and the widest bar, with room for the halo of the target line on both sides.
    setImplicitWidth(kScaleColumnWidth + kRowSpacing + kMaxBarWidth + 2.0 * kGlowRadius);
    setImplicitHeight(200.0);
    restartTicker();
}

void MeterBarView::classBegin() {
    OnScreenPaintedItem::classBegin();
    building_ = true;
}

void MeterBarView::componentComplete() {
    building_ = false;
    OnScreenPaintedItem::componentComplete();
    updateBarFrame();
}

void MeterBarView::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
    OnScreenPaintedItem::geometryChange(newGeometry, oldGeometry);
    updateBarFrame();
}

void MeterBarView::updateBarFrame() {
    const QRectF frame = meterBarLayout(size(), showLabel_, showScale_, showValue_).bar;
    if (frame != barFrame_) {
        barFrame_ = frame;
        emit barFrameChanged();
    }
}

void MeterBarView::restartTicker() {
    if (peakTickInterval_ > 0.0 && std::isfinite(peakTickInterval_)) {
        const double ms = std::clamp(peakTickInterval_ * 1000.0, 1.0, 3600.0 * 1000.0);
        PeakHoldDriver::subscribe(this, static_cast<int>(std::lround(ms)), [this] { peakTick(); });
    } else {
        PeakHoldDriver::unsubscribe(this);
    }
}

void MeterBarView::setLabel(const QString& label) {
    setItemProperty(this, label_, label, &MeterBarView::labelChanged);
}

MeterBarView::Picture MeterBarView::picture() const {
    return {litSegmentCount(meterFillFraction(value_, minValue_, maxValue_), segmentCount_),
            showValue_ ? Theme::formatValue(value_) : QString()};
}

// The loudness changes with every hop; the bar repaints only when its picture changes: another
// segment lights or goes out, the held peak moves, or the value reads otherwise.
void MeterBarView::setValue(double value) {
    if (sameDouble(value_, value)) {
        return;
    }
    const Picture before = picture();
    value_ = value;
    const bool peakMoved = !building_ && peakHoldEnabled_ && peak_.raise(value, ViewClock::now());
    if (peakMoved || picture() != before) {
        update();
    }
    emit valueChanged();
    if (peakMoved) {
        emit peakValueChanged();
    }
}

void MeterBarView::setMinValue(double value) {
    setItemProperty(this, minValue_, value, &MeterBarView::minValueChanged);
}

void MeterBarView::setMaxValue(double value) {
    setItemProperty(this, maxValue_, value, &MeterBarView::maxValueChanged);
}

void MeterBarView::setTargetValue(const QVariant& value) {
    setItemProperty(this, targetValue_, value, &MeterBarView::targetValueChanged);
}

void MeterBarView::setUnit(const QString& unit) {
    setItemProperty(this, unit_, unit, &MeterBarView::unitChanged);
}

void MeterBarView::setAccent(const QColor& accent) {
    setItemProperty(this, accent_, accent, &MeterBarView::accentChanged);
}

void MeterBarView::setPeakHoldEnabled(bool enabled) {
    setItemProperty(this, peakHoldEnabled_, enabled, &MeterBarView::peakHoldEnabledChanged);
}

void MeterBarView::setPeakHoldSeconds(double seconds) {
    setItemProperty(this, peakHoldSeconds_, seconds, &MeterBarView::peakHoldSecondsChanged);
}

void MeterBarView::setPeakDecayRate(double rate) {
    setItemProperty(this, peakDecayRate_, rate, &MeterBarView::peakDecayRateChanged);
}

void MeterBarView::setPeakOverThreshold(const QVariant& threshold) {
    setItemProperty(this, peakOverThreshold_, threshold, &MeterBarView::peakOverThresholdChanged);
}

void MeterBarView::setShowLabel(bool show) {
    setItemProperty(this, showLabel_, show, &MeterBarView::showLabelChanged,
                    [this] { updateBarFrame(); });
}

void MeterBarView::setShowValue(bool show) {
    setItemProperty(this, showValue_, show, &MeterBarView::showValueChanged,
                    [this] { updateBarFrame(); });
}

void MeterBarView::setShowScale(bool show) {
    setItemProperty(this, showScale_, show, &MeterBarView::showScaleChanged,
                    [this] { updateBarFrame(); });
}

void MeterBarView::setShowTargetLine(bool show) {
    setItemProperty(this, showTargetLine_, show, &MeterBarView::showTargetLineChanged);
}

void MeterBarView::setPeakTickInterval(double seconds) {
    setItemProperty(this, peakTickInterval_, seconds, &MeterBarView::peakTickIntervalChanged,
                    [this] { restartTicker(); });
}

void MeterBarView::setSegmentCount(int count) {
    setItemProperty(this, segmentCount_, count, &MeterBarView::segmentCountChanged);
}

void MeterBarView::setIdentity(int identity) {
    // A new identity is a new meter: no held peak, and a fresh ticker phase. The value present
    // now is the one it is first shown with, so it does not raise the peak.
    bool hadPeak = false;
    setItemProperty(this, identity_, identity, &MeterBarView::identityChanged, [&] {
        hadPeak = std::isfinite(peak_.peakValue());
        peak_.clear();
        restartTicker();
    });
    if (hadPeak) {
        emit peakValueChanged();
    }
}

void MeterBarView::peakTick() {
    if (!peakHoldEnabled_) {
        return;
    }
    const double step = peakDecayRate_ * peakTickInterval_;
    if (peak_.decay(ViewClock::now(), minValue_, peakHoldSeconds_, step, value_)) {
        update();
        emit peakValueChanged();
    }
}

void MeterBarView::ensureCache(qreal dpr) {
    const CacheKey key{size(),     dpr,        minValue_,  maxValue_, segmentCount_,
                       showScale_, showLabel_, showValue_, label_,    layerBase(*this)};
    if (key == cacheKey_ && !staticLayer_.isNull()) {
        return;
    }
    cacheKey_ = key;
    layout_ = meterBarLayout(size(), showLabel_, showScale_, showValue_);
    const MeterBarLayout& layout = layout_;

    staticLayer_ = makeBaseLayer(size(), dpr, key.base);
    litSegments_ = makeTransparentLayer(size(), dpr);
    if (staticLayer_.isNull() || litSegments_.isNull()) {
        return;
    }

    QPainter p(&staticLayer_);
    drawLayerInPoints(p);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    if (showLabel_) {
        p.setFont(labelFont());
        p.setPen(Theme::whiteAlpha(0.75));
        p.drawText(layout.label, Qt::AlignHCenter | Qt::AlignVCenter, label_);
    }

    if (showScale_) {
        const QFont font = scaleFont();
        const double labelHeight = QFontMetricsF(font).height();
        p.setFont(font);
        p.setPen(Theme::whiteAlpha(0.75));
        const QRectF column = layout.scaleColumn;
        for (double tick : meterScaleTicks(minValue_, maxValue_)) {
            // The label's bottom edge sits at the tick's level, then 6 points lower.
            const double fraction = (tick - minValue_) / (maxValue_ - minValue_);
            const double labelBottom =
                column.bottom() - fraction * column.height() + kScaleLabelDrop;
            if (!std::isfinite(labelBottom)) {
                continue;
            }
            const QRectF box(column.left(), labelBottom - labelHeight, column.width(), labelHeight);
            p.drawText(box, Qt::AlignHCenter | Qt::AlignBottom, QString::asprintf("%.0f", tick));
        }
    }

    const QRectF bar = layout.bar;
    p.setPen(Qt::NoPen);
    p.setBrush(Theme::withAlpha(Theme::black(), 0.25));
    p.drawRoundedRect(bar, 4.0, 4.0);

    QPainter lit(&litSegments_);
    drawLayerInPoints(lit);
    lit.setRenderHint(QPainter::Antialiasing);
    lit.setPen(Qt::NoPen);
    p.setBrush(Theme::whiteAlpha(0.06));
    for (int i = 0; i < segmentCount_; ++i) {
        const QRectF segment = meterSegmentRect(bar, i, segmentCount_);
        if (segment.isEmpty()) {
            break;
        }
        p.drawRoundedRect(segment, 1.5, 1.5);
        lit.setBrush(meterSegmentColor(i, segmentCount_));
        lit.drawRoundedRect(segment, 1.5, 1.5);
    }
}

void MeterBarView::paint(QPainter* painter) {
    blitCachedLayersPlainly(painter);
    if (width() <= 0.0 || height() <= 0.0) {
        return;
    }
    const qreal dpr = paintScale(painter);
    ensureCache(dpr);
    const MeterBarLayout& layout = layout_;
    const QRectF bar = layout.bar;

    painter->drawImage(QPointF(0.0, 0.0), staticLayer_);

    // Lit segments: the part of the lit column below the middle of the gap above the highest
    // lit segment.
    const int lit = litSegmentCount(meterFillFraction(value_, minValue_, maxValue_), segmentCount_);
    if (lit > 0) {
        const QRectF highest = meterSegmentRect(bar, lit - 1, segmentCount_);
        if (!highest.isEmpty()) {
            const double cut = lit >= segmentCount_ ? bar.top() : highest.top() - kSegmentGap / 2;
            const QRectF target(bar.left(), cut, bar.width(), bar.bottom() - cut);
            const QRectF source(target.topLeft() * dpr, target.size() * dpr);
            painter->drawImage(target, litSegments_, source);
        }
    }

    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);

    const std::optional<double> target = optionalDouble(targetValue_);
    if (showTargetLine_ && target && std::isfinite(*target)) {
        const double bottom = meterLevelY(bar, clampedFraction(*target, minValue_, maxValue_));
        const QRectF line(bar.left(), bottom - kTargetLineHeight, bar.width(), kTargetLineHeight);
        fillWithGlow(painter, line, Theme::yellow(), Theme::withAlpha(Theme::yellow(), 0.7),
                     kGlowRadius);
    }

    const std::optional<double> peak =
        peakHoldEnabled_ ? peakFraction(peak_.peakValue(), minValue_, maxValue_) : std::nullopt;
    if (peak) {
        const double bottom = meterLevelY(bar, *peak);
        painter->setBrush(peakMarkerColor(peak_.peakValue(), optionalDouble(peakOverThreshold_),
                                          Theme::whiteAlpha(0.85)));
        painter->drawRect(
            QRectF(bar.left(), bottom - kPeakLineHeight, bar.width(), kPeakLineHeight));
    }

    if (showValue_) {
        painter->setFont(valueFont());
        painter->setPen(Theme::text());
        painter->drawText(layout.valueText, Qt::AlignHCenter | Qt::AlignVCenter,
                          Theme::formatValue(value_));
    }
}

}  // namespace orvinta
