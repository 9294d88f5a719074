import QtQuick
import QtQuick.Controls.Basic
import Orvinta.Ui

// The button of a chip's pop-up menu: monospaced bold text and an up-down chevron on a capsule.
Button {
    id: button

    focusPolicy: Qt.NoFocus
    leftPadding: 10
    rightPadding: 10
    topPadding: 8
    bottomPadding: 8
    implicitWidth: Math.max(46, implicitContentWidth + leftPadding + rightPadding)
    Accessible.role: Accessible.ButtonMenu

    contentItem: Row {
        spacing: 6
        Text {
            id: label
            anchors.verticalCenter: parent.verticalCenter
            text: button.text
            font.family: Theme.monoFontFamily
            font.pixelSize: Theme.fontEmphasis
            font.weight: Font.Bold
            color: Theme.white
        }
        SymbolIcon {
            anchors.verticalCenter: parent.verticalCenter
            width: 9
            height: 11
            name: "chevrons"
            lineWidth: 1.8
            color: Theme.white
        }
    }
    background: Rectangle {
        radius: height / 2
        color: Theme.alpha(Theme.white, button.down ? 0.16 : (button.hovered ? 0.12 : 0.08))
        border.color: Theme.alpha(Theme.white, 0.15)
        border.width: 1
    }
}
