#pragma once

class QQuickWindow;

namespace orvinta {

// Whether a pop-up (a menu, a combo box's list, a tool tip) of the window is open: Qt Quick
// Controls parent every open pop-up to the window's overlay layer, which shows only then.
bool hasOpenPopup(const QQuickWindow* window);

}  // namespace orvinta
