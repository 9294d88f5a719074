#include "ui/window_key_shortcut.h"

#include <QKeyEvent>

#include "ui/window_key_filter.h"

namespace orvinta {

namespace {

// The keypad flag comes with arrows on some keyboards and says nothing about intent.
constexpr Qt::KeyboardModifiers kCommandModifiers =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

}  // namespace

WindowKeyShortcut::WindowKeyShortcut(QObject* parent) : QObject(parent) {}

WindowKeyShortcut::~WindowKeyShortcut() {
    if (window_) {
        window_->removeEventFilter(this);
    }
}

void WindowKeyShortcut::setKeys(const QList<int>& keys) {
    if (keys_ == keys) {
        return;
    }
    keys_ = keys;
    emit keysChanged();
}

void WindowKeyShortcut::setWindow(QQuickWindow* window) {
    if (rebindWindowEventFilter(this, window_, window)) {
        emit windowChanged();
    }
}

bool WindowKeyShortcut::eventFilter(QObject* watched, QEvent* event) {
    // The event's type first: a window being destroyed still filters events, and reading the
    // window pointer then would downcast an object that is no longer a window.
    if ((event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) ||
        watched != window_) {
        return QObject::eventFilter(watched, event);
    }
    const auto* keyEvent = static_cast<QKeyEvent*>(event);
    // The release of a key taken here is taken too: a focused combo box opens its list when
    // the space bar is released.
    if (event->type() == QEvent::KeyRelease && keyEvent->key() == takenKey_) {
        if (!keyEvent->isAutoRepeat()) {
            takenKey_ = 0;
        }
        return true;
    }
    if (event->type() != QEvent::KeyPress || hasOpenPopup(window_) ||
        (keyEvent->modifiers() & kCommandModifiers) != Qt::NoModifier ||
        !keys_.contains(keyEvent->key())) {
        return QObject::eventFilter(watched, event);
    }
    if (!keyEvent->isAutoRepeat()) {
        emit activated();
    }
    takenKey_ = keyEvent->key();
    return true;
}

}  // namespace orvinta
