import QtQuick
import QtQuick.Controls.Basic
import Orvinta.Ui

// A 30 × 30 step button of the TARGET and RANGE chips, showing "minus" or "plus".
Button {
    id: button

    property string symbol: "plus"

    width: 30
    height: 30
    padding: 0
    focusPolicy: Qt.NoFocus
    Accessible.role: Accessible.Button

    contentItem: Item {
        SymbolIcon {
            anchors.centerIn: parent
            width: 13
            height: 13
            name: button.symbol
            lineWidth: 2.2
            color: Theme.white
        }
    }
    background: Rectangle {
        radius: Theme.radiusControl
        color: Theme.alpha(Theme.white, button.down ? 0.2 : (button.hovered ? 0.14 : 0.1))
        border.color: Theme.alpha(Theme.white, 0.18)
        border.width: 1
    }
}
