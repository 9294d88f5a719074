import QtQuick
import Orvinta.Ui

// The dashboard's panel look: content inset 14 points on a rounded, darkened card with a faint
// border drawn inside its edge. Children go into `content`, which fills the inset area.
Rectangle {
    id: panel

    default property alias content: inset.data
    property real padding: Theme.panelPadding

    radius: Theme.radiusPanel
    color: Theme.panelFill
    border.color: Theme.panelBorder
    border.width: 1

    Item {
        id: inset
        anchors.fill: parent
        anchors.margins: panel.padding
    }
}
