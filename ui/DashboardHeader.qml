import QtQuick
import QtQuick.Controls.Basic
import Orvinta.Ui

// The header: the target read-out in the middle and, while the analyzer panels are hidden, the
// input selector and the button that shows the panels again at the trailing end.
Item {
    id: header

    property string targetText
    property bool showPhaseEQPanel: true
    property Component inputSelector

    signal phaseEQRequested()

    implicitHeight: Math.max(targetReadout.implicitHeight,
                             headerTrailing.visible ? headerTrailing.implicitHeight : 0)

    Row {
        id: targetReadout
        objectName: "headerTarget"
        anchors.centerIn: parent
        spacing: 12
        Accessible.role: Accessible.StaticText
        Accessible.name: "Target"
        Accessible.description: header.targetText
        Text {
            anchors.baseline: headerTargetValue.baseline
            text: "TARGET"
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontBody
            font.weight: Font.Bold
            color: Theme.yellow
        }
        Text {
            id: headerTargetValue
            objectName: "headerTargetText"
            text: header.targetText
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontHeaderValue
            font.weight: Font.Black
            color: Theme.yellow
        }
    }

    Column {
        id: headerTrailing
        objectName: "headerTrailing"
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        visible: !header.showPhaseEQPanel
        spacing: 3

        Loader {
            anchors.right: parent.right
            active: !header.showPhaseEQPanel
            sourceComponent: header.inputSelector
        }
        Button {
            id: phaseEqButton
            objectName: "phaseEqButton"
            anchors.right: parent.right
            focusPolicy: Qt.NoFocus
            leftPadding: 4 + 6
            rightPadding: 4 + 6
            topPadding: 4
            bottomPadding: 4
            onClicked: header.phaseEQRequested()
            Accessible.name: "Show the Phase / EQ panels"
            contentItem: Row {
                spacing: 6
                SymbolIcon {
                    anchors.verticalCenter: parent.verticalCenter
                    width: 14
                    height: 13
                    name: "waveform"
                    lineWidth: 1.6
                    color: Theme.white
                }
                Text {
                    anchors.verticalCenter: parent.verticalCenter
                    text: "Phase/EQ"
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.fontTitle
                    font.weight: Font.Medium
                    color: Theme.white
                }
            }
            background: Rectangle {
                radius: Theme.radiusButton
                color: Theme.alpha(Theme.white, phaseEqButton.down ? 0.18 : (phaseEqButton.hovered ? 0.12 : 0.07))
                border.color: Theme.alpha(Theme.white, 0.2)
                border.width: 1
            }
        }
    }
}
