import QtQuick
import QtQuick.Layouts
import Orvinta.Ui

// The radar panel: its title, the loudness radar on the shared scale and the colour legend.
DashboardPanel {
    id: panel

    property QtObject appState
    property string cycleLabel
    property real scaleBottom: -60
    property real scaleTop: 0
    property var targetLUFS
    readonly property alias radar: radar

    ColumnLayout {
        anchors.fill: parent
        spacing: Theme.columnSpacing

        SectionTitle {
            text: "LOUDNESS RADAR"
        }

        // The radar is square: as an item of only that square its repaints fill and copy no
        // more than the dial.
        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true
            implicitWidth: radar.implicitWidth
            implicitHeight: radar.implicitHeight

            RadarLoudnessView {
                id: radar
                objectName: "radar"
                anchors.centerIn: parent
                width: Math.min(parent.width, parent.height)
                height: width
                momentaryLUFS: panel.appState ? panel.appState.momentaryLUFS : -Infinity
                elapsedSeconds: panel.appState ? panel.appState.elapsedSeconds : 0
                cycleSeconds: panel.appState ? panel.appState.radarCycleSeconds : 60
                targetLUFS: panel.targetLUFS
                minLUFS: panel.scaleBottom
                maxLUFS: panel.scaleTop
                bucketCount: 180
                fillColor: Theme.panelSurface
                identity: panel.appState ? panel.appState.resetSignal : 0
                Accessible.role: Accessible.Chart
                Accessible.name: "Loudness radar"
                Accessible.description: "momentary " + Theme.formatValue(momentaryLUFS)
                    + " LUFS, cycle " + panel.cycleLabel
            }
        }

        Row {
            objectName: "radarLegend"
            spacing: 16
            LegendEntry {
                label: "MOMENTARY"
                swatch: Theme.cyan
            }
            LegendEntry {
                objectName: "radarLegendTarget"
                visible: typeof panel.targetLUFS === "number"
                label: "TARGET"
                swatch: Theme.yellow
            }
        }
    }
}
