#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QRectF>
#include <QString>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

#include <array>
#include <vector>

#include "ui/on_screen_painted_item.h"
#include "ui/peak_hold.h"
#include "ui/text_run_cache.h"

namespace orvinta {

// Lit colour of segment i of the true-peak bar: red above 0.9 of the bar, yellow above 0.72,
// green below.
QColor truePeakSegmentColor(int index, int segmentCount);

// Segment i (0 at the left) of a horizontal bar: equal widths, 2 points apart, full height.
QRectF truePeakSegmentRect(const QRectF& bar, int index, int segmentCount);

// Left edge of the 2-point peak marker in a bar of the given width: one point left of the
// peak's position, never left of the bar.
double truePeakMarkerX(double barWidth, double fraction);

// The read-out: the held peak while one above minValue is held, else the em dash for a value
// that is not finite, else the value; one decimal.
QString truePeakReadout(double peakValue, double value, double minValue);

// Where the parts of a TruePeakBarView stand inside an item of the given size: the header's
// text baseline, the 18-point bar under it and the row of scale labels.
struct TruePeakBarLayout {
    double headerBaseline = 0.0;
    QRectF bar;
    QRectF scaleRow;
};
TruePeakBarLayout truePeakBarLayout(QSizeF size);

// The cells of the scale row: one per tick, equal widths, 8 points apart, across the row. The
// labels are spread evenly, not placed at their values.
std::vector<QRectF> truePeakScaleCells(const QRectF& row, int tickCount);

// Where a value stands along the bar, as a fraction of its width. The bar is read against its
// labels: the first label stands at the left edge, the last at the right edge and the others at
// the centres of their cells, and a value between two ticks lies proportionally between their
// labels. Ticks that do not rise strictly fall back to the linear map from minValue to maxValue.
double truePeakBarFraction(double value, const QList<double>& ticks, double width, double minValue,
                           double maxValue);

// A horizontal segmented true-peak meter for one channel, with its caption, a large read-out
// of the held peak and a row of scale labels; the dashboard shows one per channel. Lives on the
// UI thread and keeps only its own peak-hold state, which a change of `identity` discards. The
// caption, scale and both segment rows are cached as images per size and scale.
class TruePeakBarView : public OnScreenPaintedItem {
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(QString label READ label WRITE setLabel NOTIFY labelChanged FINAL)
    Q_PROPERTY(double value READ value WRITE setValue NOTIFY valueChanged FINAL)
    Q_PROPERTY(double minValue READ minValue WRITE setMinValue NOTIFY minValueChanged FINAL)
    Q_PROPERTY(double maxValue READ maxValue WRITE setMaxValue NOTIFY maxValueChanged FINAL)
    Q_PROPERTY(QString unit READ unit WRITE setUnit NOTIFY unitChanged FINAL)
    // A number, or undefined for none.
    Q_PROPERTY(QVariant peakOverThreshold READ peakOverThreshold WRITE setPeakOverThreshold NOTIFY
                   peakOverThresholdChanged FINAL)
    Q_PROPERTY(
        int segmentCount READ segmentCount WRITE setSegmentCount NOTIFY segmentCountChanged FINAL)
    Q_PROPERTY(
        QList<double> scaleTicks READ scaleTicks WRITE setScaleTicks NOTIFY scaleTicksChanged FINAL)
    // The held peak (view-local; minus infinity while none is held).
    Q_PROPERTY(double peakValue READ peakValue NOTIFY peakValueChanged FINAL)
    Q_PROPERTY(double peakHoldSeconds READ peakHoldSeconds WRITE setPeakHoldSeconds NOTIFY
                   peakHoldSecondsChanged FINAL)
    Q_PROPERTY(double peakDecayRate READ peakDecayRate WRITE setPeakDecayRate NOTIFY
                   peakDecayRateChanged FINAL)
    // Any change starts the view afresh: no held peak.
    Q_PROPERTY(int identity READ identity WRITE setIdentity NOTIFY identityChanged FINAL)

public:
    // The ticker's period; the decay step is peakDecayRate times this.
    static constexpr double kTickInterval = 0.05;

    explicit TruePeakBarView(QQuickItem* parent = nullptr);

    QString label() const { return label_; }
    void setLabel(const QString& label);
    double value() const { return value_; }
    void setValue(double value);
    double minValue() const { return minValue_; }
    void setMinValue(double value);
    double maxValue() const { return maxValue_; }
    void setMaxValue(double value);
    QString unit() const { return unit_; }
    void setUnit(const QString& unit);
    QVariant peakOverThreshold() const { return peakOverThreshold_; }
    void setPeakOverThreshold(const QVariant& threshold);
    int segmentCount() const { return segmentCount_; }
    void setSegmentCount(int count);
    QList<double> scaleTicks() const { return scaleTicks_; }
    void setScaleTicks(const QList<double>& ticks);
    double peakValue() const { return peak_.peakValue(); }
    double peakHoldSeconds() const { return peakHoldSeconds_; }
    void setPeakHoldSeconds(double seconds);
    double peakDecayRate() const { return peakDecayRate_; }
    void setPeakDecayRate(double rate);
    int identity() const { return identity_; }
    void setIdentity(int identity);

    // One firing of the decay ticker at ViewClock::now(); the ticker calls it every 50 ms.
    void peakTick();

    void paint(QPainter* painter) override;

signals:
    void labelChanged();
    void valueChanged();
    void minValueChanged();
    void maxValueChanged();
    void unitChanged();
    void peakOverThresholdChanged();
    void segmentCountChanged();
    void scaleTicksChanged();
    void peakValueChanged();
    void peakHoldSecondsChanged();
    void peakDecayRateChanged();
    void identityChanged();

protected:
    void classBegin() override;
    void componentComplete() override;

private:
    void ensureCache(qreal dpr);
    // What the value shows: the lit segments and the read-out.
    struct Picture {
        int litSegments = 0;
        QString readout;
        bool operator==(const Picture&) const = default;
    };
    Picture picture() const;

    QString label_;
    double value_;
    double minValue_ = -60.0;
    double maxValue_ = 0.0;
    QString unit_ = QStringLiteral("dBTP");
    QVariant peakOverThreshold_ = 0.0;
    int segmentCount_ = 48;
    QList<double> scaleTicks_ = {-60, -48, -36, -24, -12, -6, -3, 0};
    double peakHoldSeconds_ = 1.2;
    double peakDecayRate_ = 30.0;
    int identity_ = 0;

    PeakHold peak_;
    // True between classBegin and componentComplete: the values set while QML builds the item
    // are the ones present when it is first shown and do not raise the peak.
    bool building_ = false;

    struct CacheKey {
        QSizeF size;
        qreal dpr = 0.0;
        int segmentCount = 0;
        QString label;
        QList<double> scaleTicks;
        QColor base;
        bool operator==(const CacheKey&) const = default;
    };
    CacheKey cacheKey_;
    TruePeakBarLayout layout_;
    // Where the read-out starts: after the caption.
    double readoutLeft_ = 0.0;
    // The read-outs and the unit, laid out once per text.
    TextRunCache readoutRuns_;
    TextRunCache unitRuns_{4};
    // Caption, unlit segments and scale labels, over the item's opaque fill colour when it has
    // one.
    QImage staticLayer_;
    // Every segment lit, over nothing.
    QImage litSegments_;
    // The static layers under the last two repaints for the screen: an image that holds the
    // picture of two repaints ago over the same layer needs it again only where the bar, its
    // marker and the read-out change.
    std::array<qint64, 2> drawnOver_{};
};

}  // namespace orvinta
