import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orvinta.Ui

// The dashboard: every read-out and control of the meter on a fixed 1440 × 1150 canvas that is
// scaled as a whole about its centre to fit the window and centred in it.
Item {
    id: root

    property QtObject appState
    // The raw value of the metric the large read-out and the meter bar show ("M", "S", "I").
    property string selectedMeterMetric: "M"
    // Frames of the meter bar and the radar in the main row's coordinates; empty while unknown.
    property rect meterBarFrame: Qt.rect(0, 0, 0, 0)
    property rect radarFrame: Qt.rect(0, 0, 0, 0)
    property bool showPhaseEQPanel: true
    // The window's content size; the window keeps it up to date.
    property size windowSize: Theme.canvasSize
    readonly property var radarCycleOptions: [
        { label: "15s", value: 15 }, { label: "30s", value: 30 }, { label: "60s", value: 60 },
        { label: "2min", value: 120 }, { label: "5min", value: 300 }, { label: "15min", value: 900 }
    ]

    readonly property real canvasScale: (windowSize.width <= 0 || windowSize.height <= 0)
        ? 1 : Math.min(windowSize.width / Theme.canvasSize.width, windowSize.height / Theme.canvasSize.height)

    readonly property var targetLUFS: appState ? appState.effectiveTargetLUFS : undefined
    readonly property bool hasTarget: typeof targetLUFS === "number"
    readonly property real meterValue: !appState ? -Infinity
        : selectedMeterMetric === "S" ? appState.shortTermLUFS
        : selectedMeterMetric === "I" ? appState.integratedLUFS : appState.momentaryLUFS
    // The meter bar and the radar share one scale.
    readonly property real scaleBottom: MeterScale.bottom(targetLUFS, appState ? appState.radarRangeLU : 20)
    readonly property real scaleTop: MeterScale.top(targetLUFS, appState ? appState.radarOuterLUFS : 0)
    readonly property string radarCycleLabel: {
        const seconds = appState ? appState.radarCycleSeconds : 60
        for (const option of radarCycleOptions) {
            if (option.value === seconds)
                return option.label
        }
        return Math.trunc(seconds) + "s"
    }
    readonly property string targetHeaderText: hasTarget ? Theme.formatValue(targetLUFS) + " LUFS" : "OFF"

    // Measures the meter bar and the radar in the main row's coordinates.
    function updateFrames() {
        const bar = meterColumn.bar
        if (bar.width > 0 && bar.height > 0) {
            const r = bar.barFrame
            const p = bar.mapToItem(mainRow, r.x, r.y)
            const frame = Qt.rect(p.x, p.y, r.width, r.height)
            if (frame !== meterBarFrame)
                meterBarFrame = frame
        }
        const radar = radarPanel.radar
        if (radar.width > 0 && radar.height > 0) {
            const q = radar.mapToItem(mainRow, 0, 0)
            const frame = Qt.rect(q.x, q.y, radar.width, radar.height)
            if (frame !== radarFrame)
                radarFrame = frame
        }
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.windowBackground
    }

    Item {
        id: canvas
        objectName: "dashboardCanvas"
        width: Theme.canvasSize.width
        height: Theme.canvasSize.height
        anchors.centerIn: parent
        scale: root.canvasScale
        transformOrigin: Item.Center

        ColumnLayout {
            anchors.fill: parent
            anchors.margins: Theme.canvasMargin
            spacing: Theme.sectionSpacing

            DashboardHeader {
                Layout.fillWidth: true
                clip: true   // the hover walk skips it; see the meter column
                targetText: root.targetHeaderText
                showPhaseEQPanel: root.showPhaseEQPanel
                inputSelector: inputSelectorComponent
                onPhaseEQRequested: root.showPhaseEQPanel = true
            }

            ErrorBanner {
                Layout.fillWidth: true
                message: root.appState ? root.appState.errorMessage : ""
            }

            // Main row: meter column, radar, read-outs and the analyzer panels.
            Item {
                id: mainRow
                objectName: "mainRow"
                Layout.fillWidth: true
                Layout.fillHeight: true

                RowLayout {
                    anchors.fill: parent
                    spacing: Theme.sectionSpacing

                    MeterColumn {
                        id: meterColumn
                        objectName: "meterColumn"
                        // Clipped, like every part of the dashboard that holds controls: Qt Quick
                        // delivers the resting pointer's hover again after every frame that
                        // changed an item, walking each subtree that holds a hover-enabled
                        // control; a clipped subtree the pointer is not over is skipped whole.
                        clip: true
                        Layout.preferredWidth: 160
                        Layout.fillHeight: true
                        appState: root.appState
                        selectedMeterMetric: root.selectedMeterMetric
                        onMetricChosen: rawValue => root.selectedMeterMetric = rawValue
                        meterValue: root.meterValue
                        scaleBottom: root.scaleBottom
                        scaleTop: root.scaleTop
                        targetLUFS: root.targetLUFS
                    }

                    RadarPanel {
                        id: radarPanel
                        objectName: "radarPanel"
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        Layout.minimumWidth: 260
                        appState: root.appState
                        cycleLabel: root.radarCycleLabel
                        scaleBottom: root.scaleBottom
                        scaleTop: root.scaleTop
                        targetLUFS: root.targetLUFS
                    }

                    // Panels hidden: the read-out column alone, as tall as the row.
                    Loader {
                        objectName: "wideReadoutSlot"
                        active: !root.showPhaseEQPanel
                        visible: active
                        Layout.preferredWidth: 559
                        Layout.fillHeight: true
                        sourceComponent: ReadoutColumn {
                            appState: root.appState
                        }
                    }

                    // Panels shown: read-outs over the input selector and the phase panel, then
                    // the frequency panel.
                    ColumnLayout {
                        objectName: "analyzerColumn"
                        visible: root.showPhaseEQPanel
                        clip: true
                        Layout.preferredWidth: 320
                        Layout.fillHeight: true
                        spacing: Theme.columnSpacing

                        Loader {
                            Layout.alignment: Qt.AlignRight
                            Layout.preferredWidth: 223
                            active: root.showPhaseEQPanel
                            sourceComponent: ReadoutColumn {
                                appState: root.appState
                            }
                        }
                        ColumnLayout {
                            Layout.fillWidth: true
                            Layout.fillHeight: true
                            spacing: 3
                            Loader {
                                Layout.alignment: Qt.AlignRight
                                active: root.showPhaseEQPanel
                                sourceComponent: inputSelectorComponent
                            }
                            Loader {
                                Layout.fillWidth: true
                                Layout.fillHeight: true
                                active: root.showPhaseEQPanel
                                sourceComponent: PhaseAnalyzerPanelView {
                                    goniometerPoints: root.appState ? root.appState.goniometerPoints : undefined
                                    phaseCorrelation: root.appState ? root.appState.phaseCorrelation : undefined
                                    isPresented: root.showPhaseEQPanel
                                    onIsPresentedChanged: root.showPhaseEQPanel = isPresented
                                }
                            }
                        }
                    }
                    Loader {
                        visible: root.showPhaseEQPanel
                        active: root.showPhaseEQPanel
                        clip: true
                        Layout.preferredWidth: 559
                        Layout.fillHeight: true
                        sourceComponent: FrequencyAnalyzerPanelView {
                            spectrumDB: root.appState ? root.appState.spectrumDB : undefined
                        }
                    }
                }

                TargetConnectorView {
                    objectName: "targetConnector"
                    x: paintedBounds.x
                    y: paintedBounds.y
                    width: paintedBounds.width
                    height: paintedBounds.height
                    hasTarget: root.hasTarget
                    meterBarFrame: root.meterBarFrame
                    radarFrame: root.radarFrame
                }
            }

            TruePeakPanel {
                Layout.fillWidth: true
                appState: root.appState
            }

            ControlRow {
                Layout.fillWidth: true
                clip: true
                appState: root.appState
                radarCycleOptions: root.radarCycleOptions
                radarCycleLabel: root.radarCycleLabel
                targetLUFS: root.targetLUFS
            }
        }
    }

    // The frames move with the layout and the window; each change re-measures them.
    Connections {
        target: meterColumn.bar
        function onWidthChanged() { root.updateFrames() }
        function onHeightChanged() { root.updateFrames() }
        function onBarFrameChanged() { root.updateFrames() }
    }
    Connections {
        target: radarPanel.radar
        function onXChanged() { root.updateFrames() }
        function onYChanged() { root.updateFrames() }
        function onWidthChanged() { root.updateFrames() }
        function onHeightChanged() { root.updateFrames() }
    }

    Component {
        id: inputSelectorComponent
        InputSelector {
            appState: root.appState
        }
    }
}
