#pragma once

#include <QObject>
#include <QPointer>
#include <QQmlComponent>

class QQmlEngine;
class QQuickWindow;

namespace orvinta {

class AppState;

// Opens and closes the dashboard windows of the process. Every window shows the one AppState;
// Ctrl+N in any window opens another, and a closed window is destroyed (the process ends with
// the last one). UI thread only.
class DashboardWindows : public QObject {
    Q_OBJECT

public:
    DashboardWindows(QQmlEngine* engine, AppState* appState, QObject* parent = nullptr);
    // Closes the windows still open, before the engine and the state they show go away.
    ~DashboardWindows() override;

    // Creates and shows one dashboard window; nullptr (and the component's errors on stderr)
    // when the dashboard cannot be loaded.
    QQuickWindow* open();

    int count() const;

private slots:
    void openAnother();

private:
    QQmlEngine* engine_;
    AppState* appState_;
    QQmlComponent component_;
    QList<QPointer<QQuickWindow>> windows_;
};

}  // namespace orvinta
