// Entry of the application's offscreen tests: a QGuiApplication on the offscreen platform,
// with the dashboard's QML module linked in.

#include <QGuiApplication>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

Q_IMPORT_QML_PLUGIN(Orvinta_UiPlugin)

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        const std::string dir = "/tmp/orvinta-test-runtime-" + std::to_string(::getuid());
        ::mkdir(dir.c_str(), 0700);
        ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    }
    ::testing::InitGoogleTest(&argc, argv);
    QGuiApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
