#include "ui/on_screen_painted_item.h"

#include <QLineF>
#include <QQuickWindow>

#include <algorithm>
#include <cmath>

namespace orvinta {

double onScreenScale(const QQuickItem& item) {
    const QQuickWindow* window = item.window();
    if (!window) {
        return 1.0;
    }
    const QPointF origin = item.mapToScene(QPointF(0, 0));
    const double sx = QLineF(origin, item.mapToScene(QPointF(1, 0))).length();
    const double sy = QLineF(origin, item.mapToScene(QPointF(0, 1))).length();
    const double scale = std::max(sx, sy) * window->effectiveDevicePixelRatio();
    return std::isfinite(scale) && scale > 0.0 ? std::min(scale, 8.0) : 1.0;
}

OnScreenPaintedItem::OnScreenPaintedItem(QQuickItem* parent) : QQuickPaintedItem(parent) {
    connect(this, &QQuickPaintedItem::fillColorChanged, this,
            [this] { setOpaquePainting(fillColor().alpha() == 255); });
}

QSize OnScreenPaintedItem::onScreenTextureSize() const {
    const QQuickWindow* w = window();
    const double dpr = w ? w->effectiveDevicePixelRatio() : 1.0;
    const double scale = onScreenScale(*this) / dpr;
    if (!(scale > 1.0)) {
        return {};  // QQuickPaintedItem's own: the item's size times the pixel ratio
    }
    return QSize(std::max(1, static_cast<int>(std::ceil(width() * scale - 1e-6))),
                 std::max(1, static_cast<int>(std::ceil(height() * scale - 1e-6))));
}

QSGNode* OnScreenPaintedItem::updatePaintNode(QSGNode* oldNode, UpdatePaintNodeData* data) {
    setTextureSize(onScreenTextureSize());
    return QQuickPaintedItem::updatePaintNode(oldNode, data);
}

void OnScreenPaintedItem::repaintIfScaleChanged() {
    if (onScreenTextureSize() != textureSize()) {
        update();
    }
}

void OnScreenPaintedItem::itemChange(ItemChange change, const ItemChangeData& value) {
    if (change == ItemSceneChange && value.window) {
        // The dashboard's scale follows the window's size through QML bindings; look once they
        // have run.
        for (auto signal : {&QWindow::widthChanged, &QWindow::heightChanged}) {
            connect(value.window, signal, this, &OnScreenPaintedItem::repaintIfScaleChanged,
                    Qt::QueuedConnection);
        }
    }
    QQuickPaintedItem::itemChange(change, value);
}

void OnScreenPaintedItem::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
    QQuickPaintedItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size()) {
        update();
    }
}

}  // namespace orvinta
