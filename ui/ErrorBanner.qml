import QtQuick
import Orvinta.Ui

// The error banner: the last error in orange with a warning sign; hidden while there is none.
Rectangle {
    id: errorBanner

    property string message

    objectName: "errorBanner"
    visible: message.length > 0
    implicitHeight: bannerRow.implicitHeight + 16
    radius: Theme.radiusButton
    color: Theme.alpha(Theme.orange, 0.12)
    Accessible.role: Accessible.AlertMessage
    Accessible.name: "Error"
    Accessible.description: message

    Row {
        id: bannerRow
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        anchors.margins: 8
        spacing: 8
        SymbolIcon {
            anchors.verticalCenter: parent.verticalCenter
            width: 16
            height: 15
            name: "warning"
            color: Theme.orange
        }
        Text {
            objectName: "errorBannerText"
            width: bannerRow.width - 24
            anchors.verticalCenter: parent.verticalCenter
            text: errorBanner.message
            wrapMode: Text.Wrap
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontBody
            color: Theme.orange
        }
    }
}
