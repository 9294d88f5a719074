import QtQuick
import QtQuick.Controls.Basic
import Orvinta.Ui

// One entry of a DarkMenu: monospaced text, a check mark on the selected entry and, when
// `toolTip` is set, a hover hint.
MenuItem {
    id: item

    property string toolTip

    implicitHeight: 30
    ToolTip.visible: toolTip.length > 0 && hovered
    ToolTip.delay: 600
    ToolTip.text: toolTip

    contentItem: Text {
        leftPadding: 20
        text: item.text
        font.family: Theme.monoFontFamily
        font.pixelSize: Theme.fontBody
        font.weight: item.checked ? Font.Bold : Font.Normal
        color: Theme.white
        verticalAlignment: Text.AlignVCenter
    }
    indicator: Text {
        x: 8
        anchors.verticalCenter: parent.verticalCenter
        visible: item.checked
        text: "\u2713"
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontLabel
        color: Theme.white
    }
    background: Rectangle {
        implicitWidth: 140
        radius: Theme.radiusSmall
        color: item.highlighted ? Theme.alpha(Theme.accent, 0.6) : "transparent"
    }
}
