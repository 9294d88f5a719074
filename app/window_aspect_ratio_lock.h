#pragma once

#include <QSize>

class QWindow;

namespace orvinta {

// Asks the window manager to keep a window's content at the given aspect ratio, through the
// X11 size hints (WM_NORMAL_HINTS) that Qt itself has no setting for. Qt rewrites those hints
// whenever it changes the window's geometry or size limits, so the lock is applied again after
// every resize. Does nothing on other window systems (there the dashboard letterboxes its
// canvas instead) and nothing for a window that has no native window yet. UI thread only.
class WindowAspectRatioLock {
public:
    // Applies the lock to `window` now and after each of its resizes, for as long as the
    // window exists. Returns whether the window system takes size hints at all.
    static bool install(QWindow* window, QSize aspectRatio);

    // Writes the aspect ratio into the window's current size hints once.
    static bool apply(QWindow* window, QSize aspectRatio);
};

}  // namespace orvinta
