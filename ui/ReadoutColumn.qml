import QtQuick
import QtQuick.Layouts
import Orvinta.Ui

// The read-out column: integrated loudness with the loudness range, the target, and the
// short-term and maximum-momentary histories with their sparklines.
DashboardPanel {
    id: column

    property QtObject appState
    readonly property var targetLUFS: appState ? appState.effectiveTargetLUFS : undefined
    readonly property bool hasTarget: typeof targetLUFS === "number"
    readonly property string integratedText: Theme.formatValue(appState ? appState.integratedLUFS : -Infinity)
    readonly property string rangeText: Theme.formatValue(appState ? appState.loudnessRangeLU : 0)
    readonly property string targetText: hasTarget ? Theme.formatValue(targetLUFS) + " LUFS" : "Off"
    readonly property string shortTermText: Theme.formatValue(appState ? appState.shortTermLUFS : -Infinity)
    readonly property string maxMomentaryText: Theme.formatValue(appState ? appState.maxMomentaryLUFS : -Infinity)

    objectName: "readoutColumn"
    implicitHeight: layout.implicitHeight + 2 * padding

    ColumnLayout {
        id: layout
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        spacing: 12

        Flow {
            Layout.fillWidth: true
            spacing: 10
            SectionTitle {
                text: "INTEGRATED LOUDNESS"
                Accessible.ignored: true
            }
            Text {
                objectName: "loudnessRangeText"
                text: "LRA " + column.rangeText + " LU"
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontLabel
                color: Theme.caption
                topPadding: 1
                Accessible.role: Accessible.StaticText
                Accessible.name: "Loudness range"
                Accessible.description: column.rangeText + " LU"
            }
        }

        Row {
            spacing: 8
            Text {
                id: integratedValue
                objectName: "integratedText"
                text: column.integratedText
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontIntegrated
                font.weight: Font.Bold
                color: Theme.text
                Accessible.role: Accessible.StaticText
                Accessible.name: "Integrated loudness"
                Accessible.description: column.integratedText + " LUFS"
            }
            Text {
                anchors.baseline: integratedValue.baseline
                text: "LUFS"
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontBody
                color: Theme.caption
                Accessible.ignored: true
            }
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Theme.alpha(Theme.white, 0.12)
        }

        Row {
            spacing: 10
            Text {
                anchors.baseline: targetValue.baseline
                text: "TARGET"
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontLabel
                color: Theme.caption
                Accessible.ignored: true
            }
            Text {
                id: targetValue
                objectName: "readoutTargetText"
                text: column.targetText
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontEmphasis
                font.weight: Font.DemiBold
                color: Theme.yellow
                Accessible.role: Accessible.StaticText
                Accessible.name: "Target"
                Accessible.description: column.targetText
            }
        }

        HistoryBlock {
            Layout.fillWidth: true
            caption: "SHORT TERM"
            accessibleName: "Short-term loudness"
            objectName: "shortTermBlock"
            valueText: column.shortTermText
            valueColor: Theme.green
            metric: "S"
            windowSeconds: 60
            windowLabel: "60 SEC"
            history: column.appState ? column.appState.history : undefined
            compact: column.width < 320
        }

        HistoryBlock {
            Layout.fillWidth: true
            caption: "MOMENTARY MAX"
            accessibleName: "Maximum momentary loudness"
            objectName: "maxMomentaryBlock"
            valueText: column.maxMomentaryText
            valueColor: Theme.cyan
            metric: "M"
            windowSeconds: 10
            windowLabel: "10 SEC"
            history: column.appState ? column.appState.history : undefined
            compact: column.width < 320
        }
    }
}
