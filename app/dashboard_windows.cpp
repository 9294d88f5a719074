#include "app/dashboard_windows.h"

#include <QQmlEngine>
#include <QQuickWindow>
#include <QUrl>

#include <cstdio>

#include "app/frame_cost_log.h"
#include "app/window_aspect_ratio_lock.h"
#include "state/app_state.h"

namespace orvinta {

namespace {

// The dashboard's design canvas, whose proportions the window keeps where it can.
constexpr QSize kCanvasSize(1440, 1150);

}  // namespace

DashboardWindows::DashboardWindows(QQmlEngine* engine, AppState* appState, QObject* parent)
    : QObject(parent),
      engine_(engine),
      appState_(appState),
      component_(engine, QUrl(QStringLiteral("qrc:/Orvinta/Ui/Main.qml")),
                 QQmlComponent::PreferSynchronous) {}

DashboardWindows::~DashboardWindows() {
    for (const auto& window : windows_) {
        delete window.data();
    }
}

QQuickWindow* DashboardWindows::open() {
    if (component_.isError()) {
        std::fprintf(stderr, "%s\n", qPrintable(component_.errorString()));
        return nullptr;
    }
    QObject* object = component_.createWithInitialProperties(
        {{QStringLiteral("appState"), QVariant::fromValue<QObject*>(appState_)}});
    auto* window = qobject_cast<QQuickWindow*>(object);
    if (!window) {
        std::fprintf(stderr, "%s\n", qPrintable(component_.errorString()));
        delete object;
        return nullptr;
    }
    QQmlEngine::setObjectOwnership(window, QQmlEngine::CppOwnership);
    connect(window, SIGNAL(newWindowRequested()), this, SLOT(openAnother()));
    connect(window, &QQuickWindow::visibleChanged, window, [window](bool visible) {
        if (!visible) {
            window->deleteLater();
        }
    });
    windows_.removeAll(nullptr);
    windows_.append(window);
    FrameCostLog::install(window);
    window->show();
    WindowAspectRatioLock::install(window, kCanvasSize);
    return window;
}

void DashboardWindows::openAnother() {
    open();
}

int DashboardWindows::count() const {
    int open = 0;
    for (const auto& window : windows_) {
        if (window) {
            ++open;
        }
    }
    return open;
}

}  // namespace orvinta
