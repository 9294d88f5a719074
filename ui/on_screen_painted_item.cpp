#include "ui/on_screen_painted_item.h"

#include <QImage>
#include <QPainter>
#include <QQuickWindow>
#include <QSGImageNode>

#include <algorithm>
#include <cmath>

namespace orvinta {

namespace {

// Longest side of an item's image; a larger placement is drawn at lower resolution and
// stretched (no screen is that large, but a scaled item may reach beyond its window).
constexpr int kMaxImageSide = 8192;

ScreenPlacement ownSizePlacement(const QQuickItem& item) {
    const auto side = [](double points) {
        return std::isfinite(points)
                   ? static_cast<int>(std::clamp(std::ceil(points), 1.0, double{kMaxImageSide}))
                   : 1;
    };
    const QSize size(side(item.width()), side(item.height()));
    return {QRect(QPoint(0, 0), size), size, QTransform(), QRectF(QPointF(0, 0), QSizeF(size))};
}

}  // namespace

ScreenPlacement screenPlacement(const QQuickItem& item) {
    const QQuickWindow* window = item.window();
    const double w = item.width();
    const double h = item.height();
    if (!window || !(w > 0.0) || !(h > 0.0)) {
        return ownSizePlacement(item);
    }
    const double dpr = window->effectiveDevicePixelRatio();
    const QPointF topLeft = item.mapToScene(QPointF(0, 0)) * dpr;
    const QPointF topRight = item.mapToScene(QPointF(w, 0)) * dpr;
    const QPointF bottomLeft = item.mapToScene(QPointF(0, h)) * dpr;
    const double sx = (topRight.x() - topLeft.x()) / w;
    double sy = (bottomLeft.y() - topLeft.y()) / h;
    // One scale read off two edges differs in its last bits; painters (and the instruments'
    // caches and sprites) treat an exactly uniform scale as such.
    if (std::abs(sy - sx) <= 1e-9 * std::abs(sx)) {
        sy = sx;
    }
    const bool axisAligned = topRight.y() == topLeft.y() && bottomLeft.x() == topLeft.x();
    // Within whole-pixel range, NaN failing every comparison.
    const auto representable = [](double v) { return std::abs(v) < 1e8; };
    if (!axisAligned || !(sx > 0.0) || !(sy > 0.0) || !representable(topLeft.x()) ||
        !representable(topLeft.y()) || !representable(topLeft.x() + w * sx) ||
        !representable(topLeft.y() + h * sy)) {
        return ownSizePlacement(item);
    }

    const int left = static_cast<int>(std::lround(topLeft.x()));
    const int top = static_cast<int>(std::lround(topLeft.y()));
    const int right = std::max(left + 1, static_cast<int>(std::lround(topLeft.x() + w * sx)));
    const int bottom = std::max(top + 1, static_cast<int>(std::lround(topLeft.y() + h * sy)));
    ScreenPlacement placement;
    placement.pixels = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));

    const double shrink =
        std::min(1.0, static_cast<double>(kMaxImageSide) /
                          std::max(placement.pixels.width(), placement.pixels.height()));
    placement.imageSize =
        QSize(std::max(1, static_cast<int>(std::ceil(placement.pixels.width() * shrink))),
              std::max(1, static_cast<int>(std::ceil(placement.pixels.height() * shrink))));
    placement.itemToImage = QTransform::fromScale(shrink, shrink)
                                .translate(topLeft.x() - left, topLeft.y() - top)
                                .scale(sx, sy);
    placement.rectInItem = QRectF((left - topLeft.x()) / sx, (top - topLeft.y()) / sy,
                                  placement.pixels.width() / sx, placement.pixels.height() / sy);
    return placement;
}

OnScreenPaintedItem::OnScreenPaintedItem(QQuickItem* parent) : QQuickPaintedItem(parent) {
    connect(this, &QQuickPaintedItem::fillColorChanged, this,
            [this] { setOpaquePainting(fillColor().alpha() == 255); });
}

QSGNode* OnScreenPaintedItem::updatePaintNode(QSGNode* oldNode, UpdatePaintNodeData* /*data*/) {
    QQuickWindow* w = window();
    if (!w || !(width() > 0.0) || !(height() > 0.0)) {
        delete oldNode;
        shownPixels_ = QRect();
        return nullptr;
    }
    const ScreenPlacement placement = screenPlacement(*this);
    const bool opaque = opaquePainting();
    const QImage::Format format =
        opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied;
    // The texture made two frames ago, which shared this image, is gone: it is painted in place.
    QImage& image = images_[nextImage_];
    nextImage_ = 1 - nextImage_;
    bool fresh = false;
    if (image.size() != placement.imageSize || image.format() != format) {
        image = QImage(placement.imageSize, format);
        fresh = true;
    }
    if (image.isNull()) {
        delete oldNode;
        shownPixels_ = QRect();
        imageTransforms_ = {};
        return nullptr;
    }
    // An unscaled covering layer lands on whole pixels and covers every one. Scaled, the raster
    // engine may leave an edge pixel out, which would keep the picture of two repaints ago.
    const std::size_t drawn = 1 - nextImage_;
    const bool filled = fresh || !paintCoversItem_ || !opaque ||
                        placement.itemToImage.type() > QTransform::TxTranslate;
    if (filled) {
        image.fill(fillColor());
    }
    imageAge_ = !filled && imageTransforms_[drawn] == placement.itemToImage ? 2 : 0;
    imageTransforms_[drawn] = placement.itemToImage;
    {
        QPainter painter(&image);
        if (antialiasing()) {
            painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                                   QPainter::SmoothPixmapTransform);
        }
        painter.setTransform(placement.itemToImage);
        paint(&painter);
    }
    imageAge_ = -1;

    auto* node = static_cast<QSGImageNode*>(oldNode);
    if (!node) {
        node = w->createImageNode();
        node->setOwnsTexture(true);
        // Image pixels meet screen pixels one to one: filtering would only blur.
        node->setFiltering(QSGTexture::Nearest);
    }
    node->setTexture(w->createTextureFromImage(
        image, opaque ? QQuickWindow::TextureIsOpaque : QQuickWindow::CreateTextureOptions()));
    node->setSourceRect(QRectF(QPointF(0, 0), QSizeF(image.size())));
    node->setRect(placement.rectInItem);
    shownPixels_ = placement.pixels;
    return node;
}

void OnScreenPaintedItem::repaintIfPlacementChanged() {
    if (window() && screenPlacement(*this).pixels != shownPixels_) {
        update();
    }
}

void OnScreenPaintedItem::itemChange(ItemChange change, const ItemChangeData& value) {
    if (change == ItemSceneChange && value.window) {
        // The dashboard's scale follows the window's size through QML bindings; look once they
        // have run.
        for (auto signal : {&QWindow::widthChanged, &QWindow::heightChanged}) {
            connect(value.window, signal, this, &OnScreenPaintedItem::repaintIfPlacementChanged,
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
