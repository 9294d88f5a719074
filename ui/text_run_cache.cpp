#include "ui/text_run_cache.h"

#include <QFontMetricsF>
#include <QPainter>

namespace orvinta {

double TextRunCache::draw(QPainter& painter, const QFont& font, QPointF baseline,
                          const QString& text) {
    if (font != font_) {
        runs_.clear();
        font_ = font;
        ascent_ = QFontMetricsF(font).ascent();
    }
    auto run = runs_.find(text);
    if (run == runs_.end()) {
        if (static_cast<std::size_t>(runs_.size()) >= capacity_) {
            runs_.clear();
        }
        Run laidOut{QStaticText(text), QFontMetricsF(font).horizontalAdvance(text)};
        laidOut.text.setTextFormat(Qt::PlainText);
        run = runs_.insert(text, laidOut);
    }
    painter.setFont(font);
    // A laid-out text is placed by its top left corner, the baseline an ascent below it.
    painter.drawStaticText(QPointF(baseline.x(), baseline.y() - ascent_), run->text);
    return run->advance;
}

}  // namespace orvinta
