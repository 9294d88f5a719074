#pragma once

#include <QQuickPaintedItem>
#include <QSize>
#include <QtQml/qqmlregistration.h>

namespace orvinta {

// Device pixels per point that an item finally covers on screen: the scale of every ancestor
// (the dashboard is laid out at one size and scaled to the window) times the window's device
// pixel ratio. 1 for an item outside a window.
double onScreenScale(const QQuickItem& item);

// A painted instrument whose texture has the pixel size the item occupies on screen when the
// dashboard is scaled up, so that its text and lines stay as sharp as QML text: paint() still
// draws in the item's own coordinates, under a painter the scene graph scales to the texture.
// The texture follows the window's size and pixel ratio. A scaled-down item keeps a texture of
// its own size: Qt 6.4's software scene graph misplaces a texture smaller than its item (it
// shows it at the texture's scale, cropped). An opaque `fillColor` (the exact colour under the
// item) makes the item opaque to the scene graph: the software renderer then skips repainting
// whatever lies beneath it when the item changes. Lives on the UI thread.
class OnScreenPaintedItem : public QQuickPaintedItem {
    Q_OBJECT
    QML_ANONYMOUS

public:
    explicit OnScreenPaintedItem(QQuickItem* parent = nullptr);

protected:
    QSGNode* updatePaintNode(QSGNode* oldNode, UpdatePaintNodeData* data) override;
    void itemChange(ItemChange change, const ItemChangeData& value) override;
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    // Texture size: the item's size in points times the on-screen scale without the window's
    // pixel ratio (QQuickPaintedItem applies that itself); empty for no scaling up.
    QSize onScreenTextureSize() const;
    void repaintIfScaleChanged();
};

}  // namespace orvinta
