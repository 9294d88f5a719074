#include "ui/global_arrow_key_handler.h"

#include <QKeyEvent>

namespace orvinta {

namespace {

// The keypad flag comes with arrows on some keyboards and says nothing about intent.
constexpr Qt::KeyboardModifiers kCommandModifiers =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

}  // namespace

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
    if (window_ == window) {
        return;
    }
    if (window_) {
        window_->removeEventFilter(this);
    }
    window_ = window;
    if (window_) {
        window_->installEventFilter(this);
    }
    emit windowChanged();
}

bool GlobalArrowKeyHandler::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_ || event->type() != QEvent::KeyPress) {
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
    if (window_ == window) {
        return;
    }
    if (window_) {
        window_->removeEventFilter(this);
    }
    window_ = window;
    if (window_) {
        window_->installEventFilter(this);
    }
    emit windowChanged();
}

bool WindowKeyShortcut::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_ || event->type() != QEvent::KeyPress) {
        return QObject::eventFilter(watched, event);
    }
    const auto* keyEvent = static_cast<QKeyEvent*>(event);
    if ((keyEvent->modifiers() & kCommandModifiers) != Qt::NoModifier ||
        !keys_.contains(keyEvent->key())) {
        return QObject::eventFilter(watched, event);
    }
    if (!keyEvent->isAutoRepeat()) {
        emit activated();
    }
    return true;
}

}  // namespace orvinta
