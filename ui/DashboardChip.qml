import QtQuick
import Orvinta.Ui

// A control group of the bottom row: content inset 14 points horizontally and 8 vertically on a
// capsule with a faint fill and border. The chip takes the size of its content.
Rectangle {
    id: chip

    default property alias content: row.data
    property alias spacing: row.spacing

    implicitWidth: row.implicitWidth + 28
    implicitHeight: row.implicitHeight + 16
    width: implicitWidth
    height: implicitHeight
    radius: height / 2
    color: Theme.chipFill
    border.color: Theme.chipBorder
    border.width: 1

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 10
    }
}
