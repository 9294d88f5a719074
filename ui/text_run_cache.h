#pragma once

#include <QFont>
#include <QHash>
#include <QPointF>
#include <QStaticText>
#include <QString>

#include <cstddef>

class QPainter;

namespace orvinta {

// Short strings that a repaint draws again and again (read-outs, units), kept laid out per
// string so that a repaint does not shape the same text anew. Holds one font; another font
// starts it afresh, and so does a full cache. UI thread only.
class TextRunCache {
public:
    explicit TextRunCache(std::size_t capacity = 256) : capacity_(capacity) {}

    // Draws `text` in `font` and the painter's pen with the left end of its baseline at
    // `baseline`, as QPainter::drawText(baseline, text) does; returns the text's advance.
    double draw(QPainter& painter, const QFont& font, QPointF baseline, const QString& text);

private:
    struct Run {
        QStaticText text;
        double advance = 0.0;
    };

    QFont font_;
    double ascent_ = 0.0;
    QHash<QString, Run> runs_;
    std::size_t capacity_;
};

}  // namespace orvinta
