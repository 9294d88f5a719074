#include "ui/target_connector_view.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>

#include "ui/theme.h"

namespace orvinta {

std::optional<TargetConnectorGeometry> targetConnectorGeometry(bool hasTarget,
                                                               const QRectF& meterBarFrame,
                                                               const QRectF& radarFrame) {
    if (!hasTarget || meterBarFrame.isEmpty() || radarFrame.isEmpty()) {
        return std::nullopt;
    }
    const double y1 = meterBarFrame.bottom() - 0.8 * meterBarFrame.height();
    const double ringRadius = std::min(radarFrame.width(), radarFrame.height()) * 0.5 * 0.88 * 0.8;
    const double y2 = radarFrame.center().y() - ringRadius;
    TargetConnectorGeometry geometry;
    geometry.barPoint = QPointF(meterBarFrame.right(), y1);
    geometry.radarCorner = QPointF(radarFrame.left(), y2);
    geometry.ringTop = QPointF(radarFrame.center().x(), y2);
    geometry.labelCentre =
        QPointF((meterBarFrame.right() + radarFrame.left()) / 2.0, (y1 + y2) / 2.0);
    return geometry;
}

TargetConnectorView::TargetConnectorView(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setAntialiasing(true);
}

void TargetConnectorView::setHasTarget(bool hasTarget) {
    if (hasTarget_ == hasTarget) {
        return;
    }
    const bool wasDrawn = isDrawn();
    hasTarget_ = hasTarget;
    emit hasTargetChanged();
    changed(wasDrawn);
}

void TargetConnectorView::setMeterBarFrame(const QRectF& frame) {
    if (meterBarFrame_ == frame) {
        return;
    }
    const bool wasDrawn = isDrawn();
    meterBarFrame_ = frame;
    emit meterBarFrameChanged();
    changed(wasDrawn);
}

void TargetConnectorView::setRadarFrame(const QRectF& frame) {
    if (radarFrame_ == frame) {
        return;
    }
    const bool wasDrawn = isDrawn();
    radarFrame_ = frame;
    emit radarFrameChanged();
    changed(wasDrawn);
}

bool TargetConnectorView::isDrawn() const {
    return targetConnectorGeometry(hasTarget_, meterBarFrame_, radarFrame_).has_value();
}

void TargetConnectorView::changed(bool wasDrawn) {
    update();
    if (wasDrawn != isDrawn()) {
        emit isDrawnChanged();
    }
}

void TargetConnectorView::paint(QPainter* painter) {
    const auto geometry = targetConnectorGeometry(hasTarget_, meterBarFrame_, radarFrame_);
    if (!geometry) {
        return;
    }
    painter->setRenderHint(QPainter::Antialiasing, true);

    QPainterPath path(geometry->barPoint);
    path.lineTo(geometry->radarCorner);
    path.lineTo(geometry->ringTop);
    QPen pen(Theme::withAlpha(Theme::yellow(), 0.5), 1.0);
    // Qt measures dashes in pen widths; the pen is 1 point wide, so these are points.
    pen.setDashPattern({4.0, 3.0});
    pen.setCapStyle(Qt::FlatCap);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(path);

    painter->setFont(Theme::font(15, Theme::Weight::Bold));
    painter->setPen(Theme::yellow());
    const QString label = QStringLiteral("TARGET");
    const QRectF bounds = painter->fontMetrics().boundingRect(label);
    QRectF box(0, 0, bounds.width() + 4, bounds.height());
    box.moveCenter(geometry->labelCentre);
    painter->drawText(box, Qt::AlignCenter, label);
}

}  // namespace orvinta
