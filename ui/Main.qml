import QtQuick
import QtQuick.Window
import Orvinta.Ui

// One dashboard window. Every window of the process shows the same application state.
Window {
    id: window

    property QtObject appState
    // Asks the application for another dashboard window on the same state (Ctrl+N).
    signal newWindowRequested()

    width: 1440
    height: 1150
    // Two thirds of the dashboard canvas.
    minimumWidth: 960
    minimumHeight: Math.ceil(1150 * 2 / 3)
    title: "Orvinta"
    color: Theme.windowBackground

    ContentView {
        id: content
        objectName: "contentView"
        anchors.fill: parent
        appState: window.appState
        windowSize: Qt.size(window.width, window.height)
    }

    Shortcut {
        sequence: "Ctrl+N"
        onActivated: window.newWindowRequested()
    }
    Shortcut {
        sequence: "Ctrl+W"
        onActivated: window.close()
    }
    Shortcut {
        sequence: "Ctrl+Q"
        onActivated: Qt.quit()
    }
}
