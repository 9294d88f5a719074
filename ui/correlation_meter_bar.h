#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QtQml/qqmlregistration.h>

#include <vector>

#include "ui/on_screen_painted_item.h"

namespace orvinta {

// Which side of the centre line a correlation segment sits on.
enum class CorrelationSide { positive, negative };

// Position of segment k (0 next to the centre line) of n per side: f = (k + 1) / n.
double correlationSegmentPosition(int k, int segmentsPerSide);

// Whether segment k of a side is lit for the correlation v: on the positive side when v > 0 and
// f <= min(v, 1), on the negative side when v < 0 and f <= min(-v, 1). Zero and NaN light none.
bool correlationSegmentLit(double value, int k, int segmentsPerSide, CorrelationSide side);

// The segments a value lights, as a signed count: positive above the centre line, negative
// below. Values that light the same segments draw the same bar.
int correlationLitSegments(double value, int segmentsPerSide);

// Fill colour of a segment: the meter palette at its position when lit, faint white otherwise.
QColor correlationSegmentColor(double value, int k, int segmentsPerSide, CorrelationSide side);

// Rectangles of the bar: the positive segments (index k = distance from the centre), the
// centre line, and the negative segments, stacked top to bottom inside a 3-point inset with
// 2 points between items, all segments sharing the height equally.
struct CorrelationBarLayout {
    std::vector<QRectF> positive;
    QRectF centreLine;
    std::vector<QRectF> negative;
};
CorrelationBarLayout correlationBarLayout(QSizeF size, int segmentsPerSide);

// Segments per side are capped here; more could not be told apart on any screen.
inline constexpr int kMaxCorrelationSegmentsPerSide = 1000;

// A vertical centre-zero bar for the stereo phase correlation (-1 ... +1). Lives on the UI
// thread; the background, the unlit segments and the centre line are cached per size.
class CorrelationMeterBar : public OnScreenPaintedItem {
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(double value READ value WRITE setValue NOTIFY valueChanged FINAL)
    Q_PROPERTY(int segmentsPerSide READ segmentsPerSide WRITE setSegmentsPerSide NOTIFY
                   segmentsPerSideChanged FINAL)

public:
    explicit CorrelationMeterBar(QQuickItem* parent = nullptr);

    double value() const { return value_; }
    void setValue(double value);
    int segmentsPerSide() const { return segmentsPerSide_; }
    void setSegmentsPerSide(int segments);

    void paint(QPainter* painter) override;

signals:
    void valueChanged();
    void segmentsPerSideChanged();

private:
    double value_ = 0.0;
    int segmentsPerSide_ = 18;
    QImage unlitCache_;
    int unlitCacheSegments_ = -1;
};

}  // namespace orvinta
