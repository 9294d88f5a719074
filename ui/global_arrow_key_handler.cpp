#include "ui/global_arrow_key_handler.h"

#include <QKeyEvent>

#include "ui/window_key_filter.h"

namespace orvinta {

ArrowKeyAction arrowKeyActionFor(int key, Qt::KeyboardModifiers modifiers) {
    const bool shift = modifiers.testFlag(Qt::ShiftModifier);
    switch (key) {
        case Qt::Key_Left:
            return shift ? ArrowKeyAction::ShiftLeft : ArrowKeyAction::Left;
        case Qt::Key_Right:
            return shift ? ArrowKeyAction::ShiftRight : ArrowKeyAction::Right;
        case Qt::Key_Up:
            return shift ? ArrowKeyAction::ShiftUp : ArrowKeyAction::Up;
        case Qt::Key_Down:
            return shift ? ArrowKeyAction::ShiftDown : ArrowKeyAction::Down;
        default:
            return ArrowKeyAction::None;
    }
}

GlobalArrowKeyHandler::GlobalArrowKeyHandler(QObject* parent) : QObject(parent) {}

GlobalArrowKeyHandler::~GlobalArrowKeyHandler() {
    if (window_) {
        window_->removeEventFilter(this);
    }
}

void GlobalArrowKeyHandler::setWindow(QQuickWindow* window) {
    if (rebindWindowEventFilter(this, window_, window)) {
        emit windowChanged();
    }
}

bool GlobalArrowKeyHandler::eventFilter(QObject* watched, QEvent* event) {
    // The event's type first: a window being destroyed still filters events, and reading the
    // window pointer then would downcast an object that is no longer a window.
    if (event->type() != QEvent::KeyPress || watched != window_ || hasOpenPopup(window_)) {
        return QObject::eventFilter(watched, event);
    }
    const auto* keyEvent = static_cast<QKeyEvent*>(event);
    switch (arrowKeyActionFor(keyEvent->key(), keyEvent->modifiers())) {
        case ArrowKeyAction::None:
            return QObject::eventFilter(watched, event);
        case ArrowKeyAction::Left:
            emit left();
            break;
        case ArrowKeyAction::Right:
            emit right();
            break;
        case ArrowKeyAction::Up:
            emit up();
            break;
        case ArrowKeyAction::Down:
            emit down();
            break;
        case ArrowKeyAction::ShiftLeft:
            emit shiftLeft();
            break;
        case ArrowKeyAction::ShiftRight:
            emit shiftRight();
            break;
        case ArrowKeyAction::ShiftUp:
            emit shiftUp();
            break;
        case ArrowKeyAction::ShiftDown:
            emit shiftDown();
            break;
    }
    return true;
}

}  // namespace orvinta
