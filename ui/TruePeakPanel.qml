import QtQuick
import QtQuick.Layouts
import Orvinta.Ui

// The true-peak panel: a bar for each of the first two channels, each with the highest true
// peak since START or RESET beside its number (red once it passed 0 dBTP).
DashboardPanel {
    id: panel

    property QtObject appState
    readonly property var peaks: appState ? appState.truePeakDBTP : []
    readonly property var maxPeaks: appState ? appState.maxTruePeakDBTP : []

    objectName: "truePeakPanel"
    implicitHeight: truePeakRow.implicitHeight + 2 * padding

    RowLayout {
        id: truePeakRow
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        spacing: 24

        SectionTitle {
            Layout.alignment: Qt.AlignVCenter
            text: "TRUE PEAK"
        }
        Repeater {
            model: 2
            delegate: TruePeakBarView {
                id: bar
                required property int index
                readonly property string side: index === 0 ? "Left" : "Right"
                readonly property real maximum: index < panel.maxPeaks.length ? panel.maxPeaks[index] : -Infinity
                objectName: "truePeakBar" + index
                Layout.fillWidth: true
                Layout.alignment: Qt.AlignVCenter
                label: index === 0 ? "L" : "R"
                fillColor: Theme.panelSurface
                value: index < panel.peaks.length ? panel.peaks[index] : -Infinity
                identity: panel.appState ? panel.appState.resetSignal : 0
                Accessible.role: Accessible.Indicator
                Accessible.name: side + " true peak"
                Accessible.description: Theme.formatValue(value) + " dBTP"

                Row {
                    anchors.right: parent.right
                    anchors.top: parent.top
                    anchors.topMargin: 8
                    spacing: 6
                    Text {
                        anchors.baseline: maxValue.baseline
                        text: "MAX"
                        font.family: Theme.fontFamily
                        font.pixelSize: Theme.fontSmall
                        font.weight: Font.Bold
                        color: Theme.caption
                        Accessible.ignored: true
                    }
                    Text {
                        id: maxValue
                        objectName: "maxTruePeak" + bar.index
                        text: Theme.formatValue(bar.maximum)
                        font.family: Theme.monoFontFamily
                        font.pixelSize: Theme.fontEmphasis
                        font.weight: Font.Bold
                        color: bar.maximum > 0 ? Theme.red : Theme.text
                        Accessible.role: Accessible.StaticText
                        Accessible.name: bar.side + " maximum true peak"
                        Accessible.description: text + " dBTP"
                    }
                }
            }
        }
    }
}
