#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QQuickWindow>
#include <QtQml/qqmlregistration.h>

namespace orvinta {

// Takes one command key of its window (any of `keys`, pressed without Ctrl, Alt, Shift or
// Meta) before any focused control sees it and emits `activated`. Auto-repeated presses are
// swallowed without acting, so holding the space bar does not toggle the meter on and off.
// While a pop-up menu of the window is open the key is left to the menu.
// Bound to its window like GlobalArrowKeyHandler. UI thread only.
class WindowKeyShortcut : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QQuickWindow* window READ window WRITE setWindow NOTIFY windowChanged FINAL)
    Q_PROPERTY(QList<int> keys READ keys WRITE setKeys NOTIFY keysChanged FINAL)

public:
    explicit WindowKeyShortcut(QObject* parent = nullptr);
    ~WindowKeyShortcut() override;

    QQuickWindow* window() const { return window_; }
    void setWindow(QQuickWindow* window);

    QList<int> keys() const { return keys_; }
    void setKeys(const QList<int>& keys);

signals:
    void windowChanged();
    void keysChanged();
    void activated();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QList<int> keys_;
    QPointer<QQuickWindow> window_;
    // The key whose press was taken last, until its release is taken as well.
    int takenKey_ = 0;
};

}  // namespace orvinta
