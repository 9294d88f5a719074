#include "tests/app/dashboard_fixture.h"

#include <QDir>
#include <QQmlComponent>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace orvinta::testing {

namespace {

QQuickItem* findItem(QQuickItem* root, const QString& name) {
    if (!root) {
        return nullptr;
    }
    if (root->objectName() == name && root->isVisible()) {
        return root;
    }
    const auto children = root->childItems();
    for (QQuickItem* child : children) {
        if (QQuickItem* found = findItem(child, name)) {
            return found;
        }
    }
    return nullptr;
}

}  // namespace

DashboardFixture::DashboardFixture(ScriptedCaptureSource::Options sourceOptions)
    : sourceOptions_(std::move(sourceOptions)) {
    auto factory = [this](InputSource) {
        lastSource_ = std::make_shared<ScriptedCaptureSource>(sourceOptions_);
        return std::static_pointer_cast<AudioCaptureSource>(lastSource_);
    };
    auto query = []() -> std::optional<AudioFormatInfo> {
        return AudioFormatInfo{48000.0, 24, false, 2};
    };
    state_ = std::make_unique<AppState>(factory, query);
    engine_ = std::make_unique<QQmlEngine>();
    openWindow();
}

DashboardFixture::DashboardFixture(std::unique_ptr<AppState> state)
    : state_(std::move(state)), engine_(std::make_unique<QQmlEngine>()) {
    openWindow();
}

DashboardFixture::~DashboardFixture() {
    if (state_->isRunning()) {
        state_->stop();
    }
    for (QQuickWindow* window : windows_) {
        delete window;
    }
}

ScriptedCaptureSource::Options DashboardFixture::manualSilence() {
    ScriptedCaptureSource::Options options;
    options.pacing = ScriptedCaptureSource::Pacing::manual;
    return options;
}

QQuickWindow* DashboardFixture::openWindow(QSize size) {
    QQmlComponent component(engine_.get(), QUrl(QStringLiteral("qrc:/Orvinta/Ui/Main.qml")));
    if (component.isError()) {
        qFatal("dashboard did not load: %s", qPrintable(component.errorString()));
    }
    QObject* object = component.createWithInitialProperties(
        {{QStringLiteral("appState"), QVariant::fromValue<QObject*>(state_.get())}});
    auto* window = qobject_cast<QQuickWindow*>(object);
    if (!window) {
        qFatal("dashboard did not load: %s", qPrintable(component.errorString()));
    }
    window->resize(size);
    window->show();
    if (!QTest::qWaitForWindowExposed(window)) {
        qFatal("dashboard window was not exposed");
    }
    windows_.push_back(window);
    return window;
}

QQuickItem* DashboardFixture::item(const char* objectName, int windowIndex) {
    return findItem(window(windowIndex)->contentItem(), QString::fromUtf8(objectName));
}

QString DashboardFixture::text(const char* objectName, int windowIndex) {
    QQuickItem* found = item(objectName, windowIndex);
    return found ? found->property("text").toString() : QStringLiteral("<missing>");
}

QRectF DashboardFixture::sceneRect(const char* objectName, int windowIndex) {
    QQuickItem* found = item(objectName, windowIndex);
    return found ? found->mapRectToScene(QRectF(0, 0, found->width(), found->height())) : QRectF();
}

QImage DashboardFixture::grab(int windowIndex) {
    QImage image = window(windowIndex)->grabWindow().convertToFormat(QImage::Format_ARGB32);
    // Every grab is kept in the build folder, for a person to look at.
    if (const auto* test = ::testing::UnitTest::GetInstance()->current_test_info()) {
        const QString directory = QStringLiteral(QT_TESTCASE_BUILDDIR "/screenshots");
        QDir().mkpath(directory);
        image.save(QStringLiteral("%1/%2.%3-%4.png")
                       .arg(directory, QString::fromUtf8(test->test_suite_name()),
                            QString::fromUtf8(test->name()))
                       .arg(grabCount_++));
    }
    return image;
}

bool DashboardFixture::startAndWait() {
    QSignalSpy finished(state_.get(), &AppState::startFinished);
    state_->start();
    if (!finished.wait(10000) && finished.isEmpty()) {
        return false;
    }
    return state_->isRunning();
}

bool isClose(QColor actual, QColor expected, int tolerance) {
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

double shareOf(const QImage& image, QRect rect, QColor colour, int tolerance) {
    rect = rect.intersected(image.rect());
    if (rect.isEmpty()) {
        return 0.0;
    }
    int matching = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            if (isClose(image.pixelColor(x, y), colour, tolerance)) {
                ++matching;
            }
        }
    }
    return static_cast<double>(matching) / (rect.width() * rect.height());
}

int countYellow(const QImage& image, QRect rect) {
    rect = rect.intersected(image.rect());
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 120 && c.green() > 100 && c.blue() < 70 && c.red() - c.blue() > 80) {
                ++count;
            }
        }
    }
    return count;
}

}  // namespace orvinta::testing
