import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orvinta.Ui

// The meter column: the large read-out of the selected loudness, the meter bar on the shared
// scale, the metric selector and the name of the scale.
DashboardPanel {
    id: column

    property QtObject appState
    // The raw value of the selected metric ("M", "S" or "I").
    property string selectedMeterMetric: "M"
    property real meterValue: -Infinity
    property real scaleBottom: -60
    property real scaleTop: 0
    property var targetLUFS
    readonly property alias bar: meterBar

    signal metricChosen(string rawValue)

    readonly property var metricOptions: appState ? appState.meterMetricOptions() : []
    readonly property string metricLabel: {
        for (const option of metricOptions) {
            if (option.rawValue === selectedMeterMetric)
                return option.label
        }
        return ""
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: Theme.columnSpacing

        Column {
            Layout.fillWidth: true
            spacing: 2
            Accessible.role: Accessible.StaticText
            Accessible.name: column.metricLabel + " loudness"
            Accessible.description: meterValueText.text + " LUFS"
            SectionTitle {
                objectName: "meterMetricLabel"
                text: column.metricLabel.toUpperCase()
            }
            Text {
                text: "LUFS"
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontLabel
                color: Theme.caption
            }
            Text {
                id: meterValueText
                objectName: "meterValueText"
                text: Theme.formatValue(column.meterValue)
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontMeterValue
                font.weight: Font.Bold
                color: Theme.cyan
            }
        }

        // No wider than the scale and the bar: a painted item repaints its whole area.
        MeterBarView {
            id: meterBar
            objectName: "meterBar"
            Layout.alignment: Qt.AlignHCenter
            Layout.fillHeight: true
            value: column.meterValue
            minValue: column.scaleBottom
            maxValue: column.scaleTop
            targetValue: column.targetLUFS
            accent: Theme.green
            fillColor: Theme.panelSurface
            identity: column.appState ? column.appState.resetSignal : 0
            Accessible.role: Accessible.Indicator
            Accessible.name: "Loudness meter"
            Accessible.description: meterValueText.text + " LUFS, scale "
                + Theme.formatValue(column.scaleBottom) + " to " + Theme.formatValue(column.scaleTop)
        }

        Row {
            objectName: "meterMetricSelector"
            Layout.alignment: Qt.AlignHCenter
            width: 120
            height: 26
            Accessible.role: Accessible.PageTabList
            Accessible.name: "Meter metric"
            Accessible.description: column.metricLabel
            Repeater {
                model: column.metricOptions
                delegate: Button {
                    id: segment
                    required property var modelData
                    readonly property bool selected: column.selectedMeterMetric === modelData.rawValue
                    width: 40
                    height: 26
                    padding: 0
                    focusPolicy: Qt.NoFocus
                    checkable: true
                    checked: selected
                    onClicked: column.metricChosen(modelData.rawValue)
                    Accessible.name: modelData.label
                    contentItem: Text {
                        text: segment.modelData.rawValue
                        font.family: Theme.fontFamily
                        font.pixelSize: Theme.fontTitle
                        font.weight: segment.selected ? Font.Bold : Font.Normal
                        color: Theme.white
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                    }
                    background: Rectangle {
                        radius: Theme.radiusButton
                        color: segment.selected ? Theme.alpha(Theme.white, 0.24)
                                                : Theme.alpha(Theme.white, segment.hovered ? 0.1 : 0.05)
                        border.color: Theme.alpha(Theme.white, 0.14)
                        border.width: 1
                    }
                }
            }
        }

        Text {
            objectName: "scaleText"
            Layout.fillWidth: true
            text: "SCALE: " + (column.appState ? column.appState.targetShortName.toUpperCase() : "")
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontLabel
            color: Theme.caption
            Accessible.role: Accessible.StaticText
            Accessible.name: "Scale"
            Accessible.description: column.appState ? column.appState.targetShortName : ""
        }
    }
}
