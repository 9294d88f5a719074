#include "ui/open_popup.h"

#include <QQuickItem>
#include <QQuickWindow>

namespace orvinta {

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
