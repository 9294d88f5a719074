#pragma once

#include <QPointF>
#include <QRectF>
#include <QtQml/qqmlregistration.h>

#include <optional>

#include "ui/on_screen_painted_item.h"

namespace orvinta {

// Where the dashed target connector runs between the meter bar and the radar, all in the
// coordinates of the dashboard's main row.
struct TargetConnectorGeometry {
    QPointF barPoint;     // right edge of the meter bar, at the target level (80 % up)
    QPointF radarCorner;  // left edge of the radar frame, at the top of the target ring
    QPointF ringTop;      // radar centre x, at the top of the target ring
    QPointF labelCentre;  // centre of the "TARGET" label, halfway between bar and radar
};

// The connector's path for a meter bar frame and a radar frame, or nothing when there is no
// target or when either frame is unknown (empty). The target sits at 80 % of the bar's height
// because the scale runs 4 ranges below the target and 1 above; the radar's target ring has a
// radius of 0.88 × 0.8 of half the dial.
std::optional<TargetConnectorGeometry> targetConnectorGeometry(bool hasTarget,
                                                               const QRectF& meterBarFrame,
                                                               const QRectF& radarFrame);

// The rectangle that holds the connector's path and a label of the given size, with a margin
// for the line's antialiasing.
QRectF targetConnectorBounds(const TargetConnectorGeometry& geometry, QSizeF labelSize);

// Draws the dashed yellow line from the target level on the meter bar to the target ring of
// the radar, with its "TARGET" label. Lies over the main row and takes no input. UI thread.
class TargetConnectorView : public OnScreenPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool hasTarget READ hasTarget WRITE setHasTarget NOTIFY hasTargetChanged FINAL)
    Q_PROPERTY(QRectF meterBarFrame READ meterBarFrame WRITE setMeterBarFrame NOTIFY
                   meterBarFrameChanged FINAL)
    Q_PROPERTY(QRectF radarFrame READ radarFrame WRITE setRadarFrame NOTIFY radarFrameChanged FINAL)
    // Whether the connector is drawn with the current values (for the item tree and tests).
    Q_PROPERTY(bool isDrawn READ isDrawn NOTIFY connectorChanged FINAL)
    // The area the connector and its label cover, in the frames' coordinates. The dashboard
    // gives the item exactly this place, so that it adds no layer over the instruments that
    // repaint at every snapshot.
    Q_PROPERTY(QRectF paintedBounds READ paintedBounds NOTIFY connectorChanged FINAL)

public:
    explicit TargetConnectorView(QQuickItem* parent = nullptr);

    bool hasTarget() const { return hasTarget_; }
    void setHasTarget(bool hasTarget);
    QRectF meterBarFrame() const { return meterBarFrame_; }
    void setMeterBarFrame(const QRectF& frame);
    QRectF radarFrame() const { return radarFrame_; }
    void setRadarFrame(const QRectF& frame);
    bool isDrawn() const;
    QRectF paintedBounds() const;

    void paint(QPainter* painter) override;

signals:
    void hasTargetChanged();
    void meterBarFrameChanged();
    void radarFrameChanged();
    void connectorChanged();

private:
    void changed();

    bool hasTarget_ = false;
    QRectF meterBarFrame_;
    QRectF radarFrame_;
};

}  // namespace orvinta
