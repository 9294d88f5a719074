#pragma once

#include <QObject>
#include <QPointer>
#include <QQuickWindow>
#include <QtQml/qqmlregistration.h>

namespace orvinta {

// What an arrow key press means to the dashboard: one of the eight moves, or nothing.
enum class ArrowKeyAction {
    None,
    Left,
    Right,
    Up,
    Down,
    ShiftLeft,
    ShiftRight,
    ShiftUp,
    ShiftDown
};

// Maps a key and its modifiers to an arrow action. Only Shift is looked at: an arrow pressed
// with Ctrl or Alt as well still acts as the plain (or shifted) arrow.
ArrowKeyAction arrowKeyActionFor(int key, Qt::KeyboardModifiers modifiers);

// Takes the arrow keys of one window before any focused control sees them and turns them into
// the dashboard's target and range moves. While a pop-up menu of the window is open the keys
// are left to it, so they move the menu's highlight. It sits in the window's QML tree, bound to
// that window (`window: Window.window`), and filters that window's events only, so keys typed in
// another dashboard window reach that window's handler and nothing else. UI thread only.
class GlobalArrowKeyHandler : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QQuickWindow* window READ window WRITE setWindow NOTIFY windowChanged FINAL)

public:
    explicit GlobalArrowKeyHandler(QObject* parent = nullptr);
    ~GlobalArrowKeyHandler() override;

    QQuickWindow* window() const { return window_; }
    void setWindow(QQuickWindow* window);

signals:
    void windowChanged();
    void left();
    void right();
    void up();
    void down();
    void shiftLeft();
    void shiftRight();
    void shiftUp();
    void shiftDown();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QQuickWindow> window_;
};

}  // namespace orvinta
