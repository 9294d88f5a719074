import QtQuick
import Orvinta.Ui

// A control chip that steps a value by half a unit: caption, minus, the value, plus. The
// buttons and the value are named `name` + "DownButton", "ChipText" and "UpButton".
DashboardChip {
    id: chip

    property string name
    property alias caption: captionText.text
    property alias valueText: value.text
    property alias valueFontFamily: value.font.family
    property string lowerName
    property string raiseName
    property string valueName
    property string valueDescription

    signal stepped(real delta)

    ChipCaption {
        id: captionText
        anchors.verticalCenter: parent.verticalCenter
    }
    StepButton {
        id: down
        objectName: chip.name + "DownButton"
        anchors.verticalCenter: parent.verticalCenter
        symbol: "minus"
        onClicked: chip.stepped(-0.5)
        Accessible.name: chip.lowerName
    }
    Text {
        id: value
        objectName: chip.name + "ChipText"
        anchors.verticalCenter: parent.verticalCenter
        width: 74
        horizontalAlignment: Text.AlignHCenter
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontStepValue
        font.weight: Font.Bold
        color: Theme.white
        Accessible.role: Accessible.StaticText
        Accessible.name: chip.valueName
        Accessible.description: chip.valueDescription
    }
    StepButton {
        id: up
        objectName: chip.name + "UpButton"
        anchors.verticalCenter: parent.verticalCenter
        symbol: "plus"
        onClicked: chip.stepped(0.5)
        Accessible.name: chip.raiseName
    }
}
