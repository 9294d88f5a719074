#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QString>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

#include <optional>
#include <vector>

#include "ui/on_screen_painted_item.h"
#include "ui/peak_hold.h"

namespace orvinta {

// Share of the scale a value fills: (value - minValue) / (maxValue - minValue), 0 when the value
// is not finite or the result is not above 0 (NaN included), 1 above 1.
double meterFillFraction(double value, double minValue, double maxValue);

// Number of lit segments for a fill fraction: floor(fraction * segmentCount); segment i is lit
// when i is below it.
int litSegmentCount(double fraction, int segmentCount);

// Position of segment i along the bar, i / (segmentCount - 1), 0 for a bar of one segment.
double segmentPosition(int index, int segmentCount);

// Lit colour of segment i of the loudness bar (the shared segment palette).
QColor meterSegmentColor(int index, int segmentCount);

// Step of the loudness scale: the first of 1, 2, 3, 5, 10, 15, 20, 25, 50 that is at least a
// tenth of the range (50 when none is), 12 for an empty or inverted range.
double meterScaleStep(double minValue, double maxValue);

// The scale's ticks in descending order: multiples of the step from the largest one at or
// below maxValue down to minValue. None when a bound is not finite; at most 1000.
std::vector<double> meterScaleTicks(double minValue, double maxValue);

// Segment i (0 at the bottom) of a vertical bar: inset 3 points from the bar's edges, 2 points
// between segments, all of one height.
QRectF meterSegmentRect(const QRectF& bar, int index, int segmentCount);

// Vertical coordinate of a level drawn at fraction of the bar's height above its bottom edge.
inline double meterLevelY(const QRectF& bar, double fraction) {
    return bar.bottom() - fraction * bar.height();
}

// Colour of the held-peak line or marker: red while a threshold is present and below the peak,
// otherwise the given normal colour.
QColor peakMarkerColor(double peakValue, std::optional<double> overThreshold, QColor normal);

// Where the parts of a MeterBarView stand inside its item. The bar is 16 to 24 points wide and
// the scale column 30 points, 4 points apart, the pair centred. The bar is kept a few points
// inside the item so that the scale labels at its ends and a peak or target line at the top
// stay visible.
struct MeterBarLayout {
    QRectF label;        // caption above the row (empty when not shown)
    QRectF scaleColumn;  // scale labels (empty when not shown)
    QRectF bar;          // background and segments
    QRectF valueText;    // numeric value under the row (empty when not shown)
};
MeterBarLayout meterBarLayout(QSizeF size, bool showLabel, bool showScale, bool showValue);

// A vertical segmented level meter with a numeric scale, a target line and a held peak; the
// dashboard shows the selected loudness in one. Lives on the UI thread and keeps only its own
// peak-hold state, which a change of `identity` discards. The background, the scale and the
// lit and unlit segment columns are cached as images per size and scale, so a repaint only
// blits two parts of them and draws the lines.
class MeterBarView : public OnScreenPaintedItem {
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(QString label READ label WRITE setLabel NOTIFY labelChanged FINAL)
    Q_PROPERTY(double value READ value WRITE setValue NOTIFY valueChanged FINAL)
    Q_PROPERTY(double minValue READ minValue WRITE setMinValue NOTIFY minValueChanged FINAL)
    Q_PROPERTY(double maxValue READ maxValue WRITE setMaxValue NOTIFY maxValueChanged FINAL)
    // A number, or undefined for no target.
    Q_PROPERTY(
        QVariant targetValue READ targetValue WRITE setTargetValue NOTIFY targetValueChanged FINAL)
    Q_PROPERTY(QString unit READ unit WRITE setUnit NOTIFY unitChanged FINAL)
    Q_PROPERTY(QColor accent READ accent WRITE setAccent NOTIFY accentChanged FINAL)
    Q_PROPERTY(bool peakHoldEnabled READ peakHoldEnabled WRITE setPeakHoldEnabled NOTIFY
                   peakHoldEnabledChanged FINAL)
    Q_PROPERTY(double peakHoldSeconds READ peakHoldSeconds WRITE setPeakHoldSeconds NOTIFY
                   peakHoldSecondsChanged FINAL)
    Q_PROPERTY(double peakDecayRate READ peakDecayRate WRITE setPeakDecayRate NOTIFY
                   peakDecayRateChanged FINAL)
    // A number, or undefined for none.
    Q_PROPERTY(QVariant peakOverThreshold READ peakOverThreshold WRITE setPeakOverThreshold NOTIFY
                   peakOverThresholdChanged FINAL)
    Q_PROPERTY(bool showLabel READ showLabel WRITE setShowLabel NOTIFY showLabelChanged FINAL)
    Q_PROPERTY(bool showValue READ showValue WRITE setShowValue NOTIFY showValueChanged FINAL)
    Q_PROPERTY(bool showScale READ showScale WRITE setShowScale NOTIFY showScaleChanged FINAL)
    Q_PROPERTY(bool showTargetLine READ showTargetLine WRITE setShowTargetLine NOTIFY
                   showTargetLineChanged FINAL)
    // The held peak (view-local; minus infinity while none is held).
    Q_PROPERTY(double peakValue READ peakValue NOTIFY peakValueChanged FINAL)
    Q_PROPERTY(double peakTickInterval READ peakTickInterval WRITE setPeakTickInterval NOTIFY
                   peakTickIntervalChanged FINAL)
    Q_PROPERTY(
        int segmentCount READ segmentCount WRITE setSegmentCount NOTIFY segmentCountChanged FINAL)
    // Any change starts the view afresh: no held peak.
    Q_PROPERTY(int identity READ identity WRITE setIdentity NOTIFY identityChanged FINAL)
    // The bar without the scale, in item coordinates, for the dashboard's target connector.
    Q_PROPERTY(QRectF barFrame READ barFrame NOTIFY barFrameChanged FINAL)

public:
    explicit MeterBarView(QQuickItem* parent = nullptr);

    QString label() const { return label_; }
    void setLabel(const QString& label);
    double value() const { return value_; }
    void setValue(double value);
    double minValue() const { return minValue_; }
    void setMinValue(double value);
    double maxValue() const { return maxValue_; }
    void setMaxValue(double value);
    QVariant targetValue() const { return targetValue_; }
    void setTargetValue(const QVariant& value);
    QString unit() const { return unit_; }
    void setUnit(const QString& unit);
    QColor accent() const { return accent_; }
    void setAccent(const QColor& accent);
    bool peakHoldEnabled() const { return peakHoldEnabled_; }
    void setPeakHoldEnabled(bool enabled);
    double peakHoldSeconds() const { return peakHoldSeconds_; }
    void setPeakHoldSeconds(double seconds);
    double peakDecayRate() const { return peakDecayRate_; }
    void setPeakDecayRate(double rate);
    QVariant peakOverThreshold() const { return peakOverThreshold_; }
    void setPeakOverThreshold(const QVariant& threshold);
    bool showLabel() const { return showLabel_; }
    void setShowLabel(bool show);
    bool showValue() const { return showValue_; }
    void setShowValue(bool show);
    bool showScale() const { return showScale_; }
    void setShowScale(bool show);
    bool showTargetLine() const { return showTargetLine_; }
    void setShowTargetLine(bool show);
    double peakValue() const { return peak_.peakValue(); }
    double peakTickInterval() const { return peakTickInterval_; }
    void setPeakTickInterval(double seconds);
    int segmentCount() const { return segmentCount_; }
    void setSegmentCount(int count);
    int identity() const { return identity_; }
    void setIdentity(int identity);
    QRectF barFrame() const { return barFrame_; }

    // One firing of the decay ticker at ViewClock::now(); the ticker calls it every
    // peakTickInterval seconds.
    void peakTick();

    void paint(QPainter* painter) override;

signals:
    void labelChanged();
    void valueChanged();
    void minValueChanged();
    void maxValueChanged();
    void targetValueChanged();
    void unitChanged();
    void accentChanged();
    void peakHoldEnabledChanged();
    void peakHoldSecondsChanged();
    void peakDecayRateChanged();
    void peakOverThresholdChanged();
    void showLabelChanged();
    void showValueChanged();
    void showScaleChanged();
    void showTargetLineChanged();
    void peakValueChanged();
    void peakTickIntervalChanged();
    void segmentCountChanged();
    void identityChanged();
    void barFrameChanged();

protected:
    void classBegin() override;
    void componentComplete() override;
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    void updateBarFrame();
    void restartTicker();
    void ensureCache(qreal dpr);
    // What the value shows: the lit segments and, when shown, its text.
    struct Picture {
        int litSegments = 0;
        QString text;
        bool operator==(const Picture&) const = default;
    };
    Picture picture() const;

    QString label_;
    double value_;
    double minValue_ = -60.0;
    double maxValue_ = 0.0;
    QVariant targetValue_;
    QString unit_ = QStringLiteral("LUFS");
    QColor accent_;
    bool peakHoldEnabled_ = true;
    double peakHoldSeconds_ = 0.6;
    double peakDecayRate_ = 20.0;
    QVariant peakOverThreshold_;
    bool showLabel_ = false;
    bool showValue_ = false;
    bool showScale_ = true;
    bool showTargetLine_ = true;
    double peakTickInterval_ = 0.05;
    int segmentCount_ = 44;
    int identity_ = 0;
    QRectF barFrame_;

    PeakHold peak_;
    // True between classBegin and componentComplete: the values set while QML builds the item
    // are the ones present when it is first shown and do not raise the peak.
    bool building_ = false;

    // Cached drawing: background and scale (static), and the bar's segments all lit and all
    // unlit, keyed on everything that shapes them.
    struct CacheKey {
        QSizeF size;
        qreal dpr = 0.0;
        double minValue = 0.0;
        double maxValue = 0.0;
        int segmentCount = 0;
        bool showScale = false;
        bool showLabel = false;
        bool showValue = false;
        QString label;
        QColor base;
        bool operator==(const CacheKey&) const = default;
    };
    CacheKey cacheKey_;
    MeterBarLayout layout_;
    // Caption, scale, background and unlit segments, over the item's opaque fill colour when it
    // has one.
    QImage staticLayer_;
    // Every segment lit, over nothing.
    QImage litSegments_;
};

}  // namespace orvinta
