#pragma once

#include <QPointer>
#include <QQuickWindow>

namespace orvinta {

// Helpers of the window-wide key handlers (GlobalArrowKeyHandler, WindowKeyShortcut), which
// filter the events of the window they are bound to. UI thread only.

// Moves `filter` from the window in `window` to `next` and stores `next`; false when `next` is
// the window already.
bool rebindWindowEventFilter(QObject* filter, QPointer<QQuickWindow>& window, QQuickWindow* next);

// Whether a pop-up (a menu, a combo box's list, a tool tip) of the window is open: Qt Quick
// Controls parent every open pop-up to the window's overlay layer, which shows only then.
bool hasOpenPopup(const QQuickWindow* window);

}  // namespace orvinta
