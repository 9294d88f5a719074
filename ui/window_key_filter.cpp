#include "ui/window_key_filter.h"

#include <QQuickItem>
#include <QQuickWindow>

namespace orvinta {

bool rebindWindowEventFilter(QObject* filter, QPointer<QQuickWindow>& window, QQuickWindow* next) {
    if (window == next) {
        return false;
    }
    if (window) {
        window->removeEventFilter(filter);
    }
    window = next;
    if (window) {
        window->installEventFilter(filter);
    }
    return true;
}

bool hasOpenPopup(const QQuickWindow* window) {
    if (window == nullptr) {
        return false;
    }
    const auto layers = window->contentItem()->childItems();
    for (const QQuickItem* layer : layers) {
        if (!layer->inherits("QQuickOverlay") || !layer->isVisible()) {
            continue;
        }
        const auto popups = layer->childItems();
        for (const QQuickItem* popup : popups) {
            if (popup->isVisible() && popup->inherits("QQuickPopupItem")) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace orvinta
