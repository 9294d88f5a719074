#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cstdlib>

// AppState posts to the UI thread's event loop, so every test runs inside a QCoreApplication.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString runtimeDir = QDir::tempPath() + QStringLiteral("/orvinta-state-test-runtime");
        QDir().mkpath(runtimeDir);
        QFile::setPermissions(
            runtimeDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtimeDir.toUtf8());
    }
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
