#include "app/window_aspect_ratio_lock.h"

#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace orvinta {

namespace {

// WM_SIZE_HINTS (ICCCM 4.1.2.3): 18 CARD32 fields.
constexpr int kSizeHintsLength = 18;
constexpr int kFlags = 0;
constexpr int kMinAspectNumerator = 11;
constexpr int kMinAspectDenominator = 12;
constexpr int kMaxAspectNumerator = 13;
constexpr int kMaxAspectDenominator = 14;
constexpr std::uint32_t kProgramAspect = 1u << 7;  // PAspect

xcb_connection_t* x11Connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

}  // namespace

bool WindowAspectRatioLock::apply(QWindow* window, QSize aspectRatio) {
    xcb_connection_t* connection = x11Connection();
    if (!connection || !window || !window->handle() || aspectRatio.isEmpty()) {
        return false;
    }
    const auto id = static_cast<xcb_window_t>(window->winId());

    std::array<std::uint32_t, kSizeHintsLength> hints{};
    const xcb_get_property_cookie_t cookie = xcb_get_property(
        connection, 0, id, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 0, kSizeHintsLength);
    if (xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr)) {
        if (reply->format == 32) {
            const int count = std::min(xcb_get_property_value_length(reply) / 4, kSizeHintsLength);
            std::memcpy(hints.data(), xcb_get_property_value(reply),
                        static_cast<std::size_t>(count) * sizeof(std::uint32_t));
        }
        std::free(reply);
    }

    const auto width = static_cast<std::uint32_t>(aspectRatio.width());
    const auto height = static_cast<std::uint32_t>(aspectRatio.height());
    if ((hints[kFlags] & kProgramAspect) != 0 && hints[kMinAspectNumerator] == width &&
        hints[kMinAspectDenominator] == height && hints[kMaxAspectNumerator] == width &&
        hints[kMaxAspectDenominator] == height) {
        return true;
    }
    hints[kFlags] |= kProgramAspect;
    hints[kMinAspectNumerator] = width;
    hints[kMinAspectDenominator] = height;
    hints[kMaxAspectNumerator] = width;
    hints[kMaxAspectDenominator] = height;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NORMAL_HINTS,
                        XCB_ATOM_WM_SIZE_HINTS, 32, kSizeHintsLength, hints.data());
    xcb_flush(connection);
    return true;
}

bool WindowAspectRatioLock::install(QWindow* window, QSize aspectRatio) {
    if (!x11Connection() || !window) {
        return false;
    }
    QPointer<QWindow> guarded(window);
    // Qt writes its own size hints when it changes the geometry; ours go in after it, on the
    // next turn of the event loop.
    auto reapply = [guarded, aspectRatio] {
        QTimer::singleShot(0, guarded, [guarded, aspectRatio] {
            if (guarded) {
                apply(guarded, aspectRatio);
            }
        });
    };
    QObject::connect(window, &QWindow::widthChanged, window, reapply);
    QObject::connect(window, &QWindow::heightChanged, window, reapply);
    QObject::connect(window, &QWindow::visibleChanged, window, reapply);
    reapply();
    return true;
}

}  // namespace orvinta
