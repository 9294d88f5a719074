#pragma once

#include <QImage>
#include <QSizeF>

#include <cmath>

namespace orvinta {

// A transparent image for a cached drawing of the given size in points, at the device pixel
// ratio of the surface it will be drawn on, so that cached text and edges stay sharp.
inline QImage makeTransparentLayer(QSizeF size, qreal dpr) {
    const QSize pixels(static_cast<int>(std::ceil(size.width() * dpr)),
                       static_cast<int>(std::ceil(size.height() * dpr)));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        return image;
    }
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    return image;
}

}  // namespace orvinta
