import QtQuick
import Orvinta.Ui

// One entry of a colour legend: a short bar in the entry's colour and its label.
Row {
    id: entry

    property alias label: entryLabel.text
    property color swatch
    property int swatchWidth: 14
    property alias fontSize: entryLabel.font.pixelSize

    spacing: 6

    Rectangle {
        anchors.verticalCenter: parent.verticalCenter
        width: entry.swatchWidth
        height: 2
        color: entry.swatch
    }
    Text {
        id: entryLabel
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontLabel
        color: Theme.caption
    }
}
