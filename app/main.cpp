// Orvinta's entry: one AppState for the whole process and one dashboard window on it, with the
// meter stopped until the user presses START.

#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "app/dashboard_windows.h"
#include "app/scene_graph_choice.h"
#include "state/app_state.h"

Q_IMPORT_QML_PLUGIN(Orvinta_UiPlugin)

namespace {

// Qt and the sound server's client library keep sockets and locks under XDG_RUNTIME_DIR. When
// the session does not provide one (a bare X server, a service), use a private directory in
// /tmp that only this user can enter.
void ensureRuntimeDirectory() {
    const char* existing = std::getenv("XDG_RUNTIME_DIR");
    if (existing && *existing) {
        return;
    }
    const std::string path = "/tmp/orvinta-runtime-" + std::to_string(::getuid());
    ::mkdir(path.c_str(), 0700);
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) {
        return;  // someone else's file sits there; leave the variable unset rather than use it
    }
    if ((info.st_mode & 0777) != 0700) {
        ::chmod(path.c_str(), 0700);
    }
    ::setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
}

}  // namespace

int main(int argc, char* argv[]) {
    // A closed pipe on standard output (a launcher gone, `| head`) must not end the meter.
    std::signal(SIGPIPE, SIG_IGN);
    ensureRuntimeDirectory();

    QGuiApplication application(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("Orvinta"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Orvinta"));
    QGuiApplication::setOrganizationName(QStringLiteral("Orvinta"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.orvinta.Orvinta"));

    orvinta::chooseSceneGraph();

    orvinta::AppState appState;

    QQmlEngine engine;
    QObject::connect(&engine, &QQmlEngine::quit, &application, &QGuiApplication::quit,
                     Qt::QueuedConnection);

    orvinta::DashboardWindows windows(&engine, &appState);
    if (!windows.open()) {
        return EXIT_FAILURE;
    }
    return application.exec();
}
