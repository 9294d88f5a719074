#pragma once

#include <QImage>
#include <QQuickPaintedItem>
#include <QRect>
#include <QRectF>
#include <QTransform>
#include <QtQml/qqmlregistration.h>

#include <array>
#include <cstddef>
#include <optional>

namespace orvinta {

// Where an item's drawing lands on screen. The dashboard is laid out at one size and scaled to
// the window, so an item covers some fractional rectangle of device pixels.
struct ScreenPlacement {
    // The device pixels the item covers, its edges rounded to whole pixels.
    QRect pixels;
    // The image drawn for them: their size, unless that is beyond any texture's.
    QSize imageSize;
    // From the item's coordinates to that image: every point keeps its exact place on screen,
    // so text and lines drawn through it meet the screen pixel for pixel.
    QTransform itemToImage;
    // `pixels` in the item's coordinates: where the scene graph shows that image.
    QRectF rectInItem;
};

// The placement of an item in its window: the scale and offset of every ancestor and the
// window's device pixel ratio. An item outside a window, or turned or mirrored, is placed at
// its own size in points.
ScreenPlacement screenPlacement(const QQuickItem& item);

// A painted instrument drawn at the pixel size it finally covers on screen, whatever the
// dashboard's scale and the screen's pixel ratio, so that its text and lines are as sharp as
// QML text: paint() still draws in the item's own coordinates, under a painter that maps them
// onto the device pixels, and the scene graph shows the image one to one, unfiltered. The
// image follows the window's size and pixel ratio. An opaque `fillColor` (the exact colour
// under the item) makes the image opaque to the scene graph: the software renderer then skips
// repainting whatever lies beneath it when the item changes. Lives on the UI thread (the scene
// graph calls paint() while that thread waits for it).
class OnScreenPaintedItem : public QQuickPaintedItem {
    Q_OBJECT
    QML_ANONYMOUS

public:
    explicit OnScreenPaintedItem(QQuickItem* parent = nullptr);

protected:
    // For an item whose paint() first covers all of it with an opaque layer of its fill colour:
    // an image that is reused at an unscaled placement is then not filled beforehand.
    void setPaintCoversItem(bool covers) { paintCoversItem_ = covers; }
    // While paint() draws for the screen: 2 when the image it draws on holds the item's picture
    // of two repaints ago, painted at the same unscaled placement and not filled since (only an
    // item that covers itself finds it so), 0 for a new or filled image; -1 when paint() is
    // called from elsewhere.
    int imageAge() const { return imageAge_; }

    QSGNode* updatePaintNode(QSGNode* oldNode, UpdatePaintNodeData* data) override;
    void itemChange(ItemChange change, const ItemChangeData& value) override;
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    void repaintIfPlacementChanged();

    // The pixels of the image on screen now; written while the scene graph syncs the item.
    QRect shownPixels_;
    // Painted in turn while the scene graph syncs the item: the texture shown shares one, the
    // other is free, so frames neither allocate nor copy.
    std::array<QImage, 2> images_;
    std::size_t nextImage_ = 0;
    bool paintCoversItem_ = false;
    // The placement each image was last painted at, if it holds a picture.
    std::array<std::optional<QTransform>, 2> imageTransforms_;
    int imageAge_ = -1;
};

}  // namespace orvinta
