#include "ui/target_connector_view.h"

#include <QFontMetricsF>
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

QRectF targetConnectorBounds(const TargetConnectorGeometry& geometry, QSizeF labelSize) {
    QRectF label(QPointF(0, 0), labelSize);
    label.moveCenter(geometry.labelCentre);
    const double left = std::min({geometry.barPoint.x(), geometry.radarCorner.x(), label.left()});
    const double right = std::max({geometry.ringTop.x(), geometry.radarCorner.x(), label.right()});
    const double top = std::min({geometry.barPoint.y(), geometry.ringTop.y(), label.top()});
    const double bottom = std::max({geometry.barPoint.y(), geometry.ringTop.y(), label.bottom()});
    return QRectF(QPointF(left, top), QPointF(right, bottom)).adjusted(-2, -2, 2, 2);
}

namespace {

const QString kLabel = QStringLiteral("TARGET");

QSizeF labelSize() {
    const QFontMetricsF metrics(Theme::font(15, Theme::Weight::Bold));
    return QSizeF(metrics.horizontalAdvance(kLabel) + 4, metrics.height());
}

}  // namespace

TargetConnectorView::TargetConnectorView(QQuickItem* parent) : OnScreenPaintedItem(parent) {
    setAntialiasing(true);
}

void TargetConnectorView::setHasTarget(bool hasTarget) {
    if (hasTarget_ == hasTarget) {
        return;
    }
    hasTarget_ = hasTarget;
    emit hasTargetChanged();
    changed();
}

void TargetConnectorView::setMeterBarFrame(const QRectF& frame) {
    if (meterBarFrame_ == frame) {
        return;
    }
    meterBarFrame_ = frame;
    emit meterBarFrameChanged();
    changed();
}

void TargetConnectorView::setRadarFrame(const QRectF& frame) {
    if (radarFrame_ == frame) {
        return;
    }
    radarFrame_ = frame;
    emit radarFrameChanged();
    changed();
}

QRectF TargetConnectorView::paintedBounds() const {
    const auto geometry = targetConnectorGeometry(hasTarget_, meterBarFrame_, radarFrame_);
    return geometry ? targetConnectorBounds(*geometry, labelSize()) : QRectF();
}

bool TargetConnectorView::isDrawn() const {
    return targetConnectorGeometry(hasTarget_, meterBarFrame_, radarFrame_).has_value();
}

void TargetConnectorView::changed() {
    update();
    emit connectorChanged();
}

void TargetConnectorView::paint(QPainter* painter) {
    const auto geometry = targetConnectorGeometry(hasTarget_, meterBarFrame_, radarFrame_);
    if (!geometry) {
        return;
    }
    painter->setRenderHint(QPainter::Antialiasing, true);
    // The item sits at paintedBounds() within the frames' coordinates.
    painter->translate(-paintedBounds().topLeft());

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
    QRectF box(QPointF(0, 0), labelSize());
    box.moveCenter(geometry->labelCentre);
    painter->drawText(box, Qt::AlignCenter, kLabel);
}

}  // namespace orvinta
