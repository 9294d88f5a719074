import QtQuick
import QtQuick.Controls.Basic
import Orvinta.Ui

// The START/STOP button: a glossy capsule in the accent colour while stopped and red while
// running, with a soft shadow of its own colour.
Button {
    id: button

    property bool running: false
    readonly property color fill: running ? Theme.red : Theme.accent

    width: 200
    height: 52
    focusPolicy: Qt.NoFocus
    text: running ? "STOP" : "START"
    Accessible.name: running ? "Stop metering" : "Start metering"
    Accessible.description: running ? "running" : "stopped"

    contentItem: Text {
        text: button.text
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontStartStop
        font.weight: Font.Black
        color: Theme.white
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }

    background: Item {
        // The shadow: the fill colour at 0.45, radius 10, 4 points down, approximated by
        // stacked capsules that widen as they fade.
        Repeater {
            model: 5
            delegate: Rectangle {
                required property int index
                readonly property real spread: 2 + index * 2
                x: -spread
                y: 4 - spread
                width: button.width + 2 * spread
                height: button.height + 2 * spread
                radius: height / 2
                color: Theme.alpha(button.fill, 0.45 / 5 * (1 - index / 5))
            }
        }
        Rectangle {
            anchors.fill: parent
            radius: height / 2
            color: button.down ? Qt.darker(button.fill, 1.2) : button.fill
        }
        Rectangle {
            anchors.fill: parent
            radius: height / 2
            gradient: Gradient {
                GradientStop { position: 0.0; color: Theme.alpha(Theme.white, 0.35) }
                GradientStop { position: 0.5; color: Theme.alpha(Theme.white, 0.05) }
                GradientStop { position: 1.0; color: Theme.alpha(Theme.black, 0.18) }
            }
            border.color: Theme.alpha(Theme.white, 0.25)
            border.width: 1
        }
    }
}
