import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orvinta.Ui

// The dashboard: every read-out and control of the meter on a fixed 1440 × 1150 canvas that is
// scaled as a whole about its centre to fit the window and centred in it.
Item {
    id: root

    property QtObject appState
    // "M", "S" or "I": the loudness shown by the large read-out and the meter bar.
    property string selectedMeterMetric: "M"
    // Frames of the meter bar and the radar in the main row's coordinates; empty while unknown.
    property rect meterBarFrame: Qt.rect(0, 0, 0, 0)
    property rect radarFrame: Qt.rect(0, 0, 0, 0)
    property bool showPhaseEQPanel: true
    // The window's content size; the window keeps it up to date.
    property size windowSize: Qt.size(1440, 1150)
    readonly property var radarCycleOptions: [
        { label: "15s", value: 15 }, { label: "30s", value: 30 }, { label: "60s", value: 60 },
        { label: "2min", value: 120 }, { label: "5min", value: 300 }, { label: "15min", value: 900 }
    ]

    readonly property size canvasSize: Qt.size(1440, 1150)
    readonly property real canvasScale: (windowSize.width <= 0 || windowSize.height <= 0)
        ? 1 : Math.min(windowSize.width / canvasSize.width, windowSize.height / canvasSize.height)

    readonly property var targetLUFS: appState ? appState.effectiveTargetLUFS : undefined
    readonly property bool hasTarget: typeof targetLUFS === "number"
    readonly property real rangeLU: appState ? appState.radarRangeLU : 20
    readonly property real meterValue: !appState ? -Infinity
        : selectedMeterMetric === "S" ? appState.shortTermLUFS
        : selectedMeterMetric === "I" ? appState.integratedLUFS : appState.momentaryLUFS
    // The meter bar and the radar share one scale; with a target the target sits at 80 % of it.
    readonly property real scaleBottom: hasTarget ? targetLUFS - 4 * rangeLU : -60
    readonly property real scaleTop: hasTarget
        ? Math.max(appState.radarOuterLUFS, targetLUFS + 1) : 0
    readonly property int resetSignal: appState ? appState.resetSignal : 0
    readonly property string radarCycleLabel: {
        const seconds = appState ? appState.radarCycleSeconds : 60
        for (const option of radarCycleOptions) {
            if (option.value === seconds)
                return option.label
        }
        return Math.trunc(seconds) + "s"
    }
    readonly property string targetHeaderText: hasTarget ? Theme.formatValue(targetLUFS) + " LUFS" : "OFF"
    readonly property string targetChipText: Theme.formatValue(hasTarget ? targetLUFS : -23)
    readonly property string rangeChipText: Theme.formatValue(rangeLU)
    readonly property var metricLabels: ({ "M": "Momentary", "S": "Short-term", "I": "Integrated" })

    function toggleRunning() {
        if (!appState)
            return
        if (appState.isRunning)
            appState.stop()
        else
            appState.start()
    }
    function resetMeasurement() {
        if (appState)
            appState.reset()
    }
    function adjustTarget(delta) {
        if (appState)
            appState.adjustTarget(delta)
    }
    function adjustRange(delta) {
        if (appState)
            appState.adjustRange(delta)
    }
    // Measures the meter bar and the radar in the main row's coordinates.
    function updateFrames() {
        const bar = meterColumn.barItem
        if (bar && bar.width > 0 && bar.height > 0) {
            const r = bar.barFrame
            const p = bar.mapToItem(mainRow, r.x, r.y)
            const frame = Qt.rect(p.x, p.y, r.width, r.height)
            if (frame !== meterBarFrame)
                meterBarFrame = frame
        }
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
        width: root.canvasSize.width
        height: root.canvasSize.height
        anchors.centerIn: parent
        scale: root.canvasScale
        transformOrigin: Item.Center

        ColumnLayout {
            id: stack
            anchors.fill: parent
            anchors.margins: 20
            spacing: 16

            // Header: the target read-out, and the input selector while the panels are hidden.
            Item {
                Layout.fillWidth: true
                implicitHeight: Math.max(targetReadout.implicitHeight,
                                         headerTrailing.visible ? headerTrailing.implicitHeight : 0)

                Row {
                    id: targetReadout
                    objectName: "headerTarget"
                    anchors.centerIn: parent
                    spacing: 12
                    Accessible.role: Accessible.StaticText
                    Accessible.name: "Target"
                    Accessible.description: root.targetHeaderText
                    Text {
                        anchors.baseline: headerTargetValue.baseline
                        text: "TARGET"
                        font.family: Theme.fontFamily
                        font.pixelSize: 14
                        font.weight: Font.Bold
                        color: Theme.yellow
                    }
                    Text {
                        id: headerTargetValue
                        objectName: "headerTargetText"
                        text: root.targetHeaderText
                        font.family: Theme.fontFamily
                        font.pixelSize: 30
                        font.weight: Font.Black
                        color: Theme.yellow
                    }
                }

                Column {
                    id: headerTrailing
                    objectName: "headerTrailing"
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    visible: !root.showPhaseEQPanel
                    spacing: 3

                    Loader {
                        anchors.right: parent.right
                        active: !root.showPhaseEQPanel
                        sourceComponent: inputSelectorComponent
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
                        onClicked: root.showPhaseEQPanel = true
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
                                font.pixelSize: 13
                                font.weight: Font.Medium
                                color: Theme.white
                            }
                        }
                        background: Rectangle {
                            radius: 6
                            color: Theme.alpha(Theme.white, phaseEqButton.down ? 0.18 : (phaseEqButton.hovered ? 0.12 : 0.07))
                            border.color: Theme.alpha(Theme.white, 0.2)
                            border.width: 1
                        }
                    }
                }
            }

            // Error banner.
            Rectangle {
                id: errorBanner
                objectName: "errorBanner"
                readonly property string message: root.appState ? root.appState.errorMessage : ""
                Layout.fillWidth: true
                visible: message.length > 0
                implicitHeight: bannerRow.implicitHeight + 16
                radius: 6
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
                        font.pixelSize: 14
                        color: Theme.orange
                    }
                }
            }

            // Main row: meter column, radar, read-outs and the analyzer panels.
            Item {
                id: mainRow
                objectName: "mainRow"
                Layout.fillWidth: true
                Layout.fillHeight: true

                RowLayout {
                    id: mainRowLayout
                    anchors.fill: parent
                    spacing: 16

                    DashboardPanel {
                        id: meterColumn
                        objectName: "meterColumn"
                        property alias barItem: meterBar
                        Layout.preferredWidth: 160
                        Layout.fillHeight: true

                        ColumnLayout {
                            anchors.fill: parent
                            spacing: 10

                            Column {
                                Layout.fillWidth: true
                                spacing: 2
                                Accessible.role: Accessible.StaticText
                                Accessible.name: root.metricLabels[root.selectedMeterMetric] + " loudness"
                                Accessible.description: meterValueText.text + " LUFS"
                                Text {
                                    objectName: "meterMetricLabel"
                                    text: root.metricLabels[root.selectedMeterMetric].toUpperCase()
                                    font.family: Theme.fontFamily
                                    font.pixelSize: 13
                                    font.weight: Font.Bold
                                    color: Theme.caption
                                }
                                Text {
                                    text: "LUFS"
                                    font.family: Theme.fontFamily
                                    font.pixelSize: 12
                                    color: Theme.caption
                                }
                                Text {
                                    id: meterValueText
                                    objectName: "meterValueText"
                                    text: Theme.formatValue(root.meterValue)
                                    font.family: Theme.fontFamily
                                    font.pixelSize: 40
                                    font.weight: Font.Bold
                                    color: Theme.cyan
                                }
                            }

                            MeterBarView {
                                id: meterBar
                                objectName: "meterBar"
                                Layout.fillWidth: true
                                Layout.fillHeight: true
                                value: root.meterValue
                                minValue: root.scaleBottom
                                maxValue: root.scaleTop
                                targetValue: root.targetLUFS
                                accent: Theme.green
                                identity: root.resetSignal
                                onWidthChanged: root.updateFrames()
                                onHeightChanged: root.updateFrames()
                                onBarFrameChanged: root.updateFrames()
                                Accessible.role: Accessible.Indicator
                                Accessible.name: "Loudness meter"
                                Accessible.description: meterValueText.text + " LUFS, scale "
                                    + Theme.formatValue(root.scaleBottom) + " to "
                                    + Theme.formatValue(root.scaleTop)
                            }

                            Row {
                                id: metricSelector
                                objectName: "meterMetricSelector"
                                Layout.alignment: Qt.AlignHCenter
                                width: 120
                                height: 26
                                Accessible.role: Accessible.PageTabList
                                Accessible.name: "Meter metric"
                                Accessible.description: root.metricLabels[root.selectedMeterMetric]
                                Repeater {
                                    model: ["M", "S", "I"]
                                    delegate: Button {
                                        id: segment
                                        required property string modelData
                                        required property int index
                                        readonly property bool selected: root.selectedMeterMetric === modelData
                                        width: 40
                                        height: 26
                                        padding: 0
                                        focusPolicy: Qt.NoFocus
                                        checkable: true
                                        checked: selected
                                        onClicked: root.selectedMeterMetric = modelData
                                        Accessible.name: root.metricLabels[modelData]
                                        contentItem: Text {
                                            text: segment.modelData
                                            font.family: Theme.fontFamily
                                            font.pixelSize: 13
                                            font.weight: segment.selected ? Font.Bold : Font.Normal
                                            color: Theme.white
                                            horizontalAlignment: Text.AlignHCenter
                                            verticalAlignment: Text.AlignVCenter
                                        }
                                        background: Rectangle {
                                            radius: 6
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
                                text: "SCALE: " + (root.appState ? root.appState.targetShortName.toUpperCase() : "")
                                wrapMode: Text.Wrap
                                horizontalAlignment: Text.AlignHCenter
                                font.family: Theme.fontFamily
                                font.pixelSize: 12
                                color: Theme.caption
                                Accessible.role: Accessible.StaticText
                                Accessible.name: "Scale"
                                Accessible.description: root.appState ? root.appState.targetShortName : ""
                            }
                        }
                    }

                    DashboardPanel {
                        id: radarPanel
                        objectName: "radarPanel"
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        Layout.minimumWidth: 260

                        ColumnLayout {
                            anchors.fill: parent
                            spacing: 10

                            Text {
                                text: "LOUDNESS RADAR"
                                font.family: Theme.fontFamily
                                font.pixelSize: 13
                                font.weight: Font.Bold
                                color: Theme.caption
                            }

                            RadarLoudnessView {
                                id: radar
                                objectName: "radar"
                                Layout.fillWidth: true
                                Layout.fillHeight: true
                                momentaryLUFS: root.appState ? root.appState.momentaryLUFS : -Infinity
                                elapsedSeconds: root.appState ? root.appState.elapsedSeconds : 0
                                cycleSeconds: root.appState ? root.appState.radarCycleSeconds : 60
                                targetLUFS: root.targetLUFS
                                minLUFS: root.scaleBottom
                                maxLUFS: root.scaleTop
                                bucketCount: 180
                                identity: root.resetSignal
                                onXChanged: root.updateFrames()
                                onYChanged: root.updateFrames()
                                onWidthChanged: root.updateFrames()
                                onHeightChanged: root.updateFrames()
                                Accessible.role: Accessible.Chart
                                Accessible.name: "Loudness radar"
                                Accessible.description: "momentary " + Theme.formatValue(momentaryLUFS)
                                    + " LUFS, cycle " + root.radarCycleLabel
                            }

                            Row {
                                objectName: "radarLegend"
                                spacing: 16
                                Row {
                                    spacing: 6
                                    Rectangle {
                                        anchors.verticalCenter: parent.verticalCenter
                                        width: 14
                                        height: 2
                                        color: Theme.cyan
                                    }
                                    Text {
                                        text: "MOMENTARY"
                                        font.family: Theme.fontFamily
                                        font.pixelSize: 12
                                        color: Theme.caption
                                    }
                                }
                                Row {
                                    objectName: "radarLegendTarget"
                                    visible: root.hasTarget
                                    spacing: 6
                                    Rectangle {
                                        anchors.verticalCenter: parent.verticalCenter
                                        width: 14
                                        height: 2
                                        color: Theme.yellow
                                    }
                                    Text {
                                        text: "TARGET"
                                        font.family: Theme.fontFamily
                                        font.pixelSize: 12
                                        color: Theme.caption
                                    }
                                }
                            }
                        }
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
                        Layout.preferredWidth: 320
                        Layout.fillHeight: true
                        spacing: 10

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
                        Layout.preferredWidth: 559
                        Layout.fillHeight: true
                        sourceComponent: FrequencyAnalyzerPanelView {
                            spectrumDB: root.appState ? root.appState.spectrumDB : undefined
                        }
                    }
                }

                TargetConnectorView {
                    id: connector
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

            // True peak of the first two channels.
            DashboardPanel {
                objectName: "truePeakPanel"
                Layout.fillWidth: true
                implicitHeight: truePeakRow.implicitHeight + 2 * padding

                RowLayout {
                    id: truePeakRow
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 24
                    Text {
                        Layout.alignment: Qt.AlignVCenter
                        text: "TRUE PEAK"
                        font.family: Theme.fontFamily
                        font.pixelSize: 13
                        font.weight: Font.Bold
                        color: Theme.caption
                    }
                    Repeater {
                        model: 2
                        delegate: TruePeakBarView {
                            required property int index
                            readonly property var peaks: root.appState ? root.appState.truePeakDBTP : []
                            objectName: "truePeakBar" + index
                            Layout.fillWidth: true
                            Layout.alignment: Qt.AlignVCenter
                            label: index === 0 ? "L" : "R"
                            value: index < peaks.length ? peaks[index] : -Infinity
                            identity: root.resetSignal
                            Accessible.role: Accessible.Indicator
                            Accessible.name: (index === 0 ? "Left" : "Right") + " true peak"
                            Accessible.description: Theme.formatValue(value) + " dBTP"
                        }
                    }
                }
            }

            // Control row.
            Item {
                Layout.fillWidth: true
                implicitHeight: controls.implicitHeight

                GlobalArrowKeyHandler {
                    objectName: "arrowKeyHandler"
                    window: root.Window.window
                    onLeft: root.adjustTarget(-0.5)
                    onDown: root.adjustTarget(-0.5)
                    onRight: root.adjustTarget(0.5)
                    onUp: root.adjustTarget(0.5)
                    onShiftLeft: root.adjustRange(-0.5)
                    onShiftDown: root.adjustRange(-0.5)
                    onShiftRight: root.adjustRange(0.5)
                    onShiftUp: root.adjustRange(0.5)
                }
                WindowKeyShortcut {
                    objectName: "startStopShortcut"
                    window: root.Window.window
                    keys: [Qt.Key_Space]
                    onActivated: root.toggleRunning()
                }
                WindowKeyShortcut {
                    objectName: "resetShortcut"
                    window: root.Window.window
                    keys: [Qt.Key_Backspace, Qt.Key_Delete]
                    onActivated: root.resetMeasurement()
                }

                Row {
                    id: controls
                    objectName: "controlRow"
                    anchors.horizontalCenter: parent.horizontalCenter
                    spacing: 12

                    DashboardChip {
                        objectName: "presetChip"
                        anchors.verticalCenter: parent.verticalCenter
                        Column {
                            spacing: 4
                            ChipCaption { text: "PRESET" }
                            MenuButton {
                                id: presetButton
                                objectName: "presetButton"
                                text: root.appState ? root.appState.targetMenuLabel : ""
                                onClicked: presetMenu.popup(presetButton, 0, presetButton.height + 4)
                                Accessible.name: "Target preset"
                                Accessible.description: presetMenu.currentDisplayName
                                DarkMenu {
                                    id: presetMenu
                                    readonly property var options: root.appState ? root.appState.targetOptions() : []
                                    readonly property string currentDisplayName: {
                                        for (const option of options) {
                                            if (root.appState && option.rawValue === root.appState.target)
                                                return option.displayName
                                        }
                                        return ""
                                    }
                                    Instantiator {
                                        model: presetMenu.options
                                        delegate: DarkMenuItem {
                                            required property var modelData
                                            text: modelData.menuLabel
                                            toolTip: modelData.displayName
                                            checkable: true
                                            checked: root.appState !== null && root.appState.target === modelData.rawValue
                                            onTriggered: {
                                                if (root.appState)
                                                    root.appState.target = modelData.rawValue
                                            }
                                        }
                                        onObjectAdded: (index, object) => presetMenu.insertItem(index, object)
                                        onObjectRemoved: (index, object) => presetMenu.removeItem(object)
                                    }
                                }
                            }
                        }
                    }

                    DashboardChip {
                        objectName: "radarCycleChip"
                        anchors.verticalCenter: parent.verticalCenter
                        Column {
                            spacing: 4
                            ChipCaption { text: "RADAR\nCYCLE" }
                            MenuButton {
                                id: cycleButton
                                objectName: "radarCycleButton"
                                text: root.radarCycleLabel
                                onClicked: cycleMenu.popup(cycleButton, 0, cycleButton.height + 4)
                                Accessible.name: "Radar cycle"
                                Accessible.description: root.radarCycleLabel
                                DarkMenu {
                                    id: cycleMenu
                                    Instantiator {
                                        model: root.radarCycleOptions
                                        delegate: DarkMenuItem {
                                            required property var modelData
                                            text: modelData.label
                                            checkable: true
                                            checked: root.appState !== null && root.appState.radarCycleSeconds === modelData.value
                                            onTriggered: {
                                                if (root.appState)
                                                    root.appState.radarCycleSeconds = modelData.value
                                            }
                                        }
                                        onObjectAdded: (index, object) => cycleMenu.insertItem(index, object)
                                        onObjectRemoved: (index, object) => cycleMenu.removeItem(object)
                                    }
                                }
                            }
                        }
                    }

                    DashboardChip {
                        objectName: "targetChip"
                        anchors.verticalCenter: parent.verticalCenter
                        ChipCaption {
                            anchors.verticalCenter: parent.verticalCenter
                            text: "TARGET\nLUFS"
                        }
                        StepButton {
                            objectName: "targetDownButton"
                            anchors.verticalCenter: parent.verticalCenter
                            symbol: "minus"
                            onClicked: root.adjustTarget(-0.5)
                            Accessible.name: "Lower the target"
                        }
                        Text {
                            objectName: "targetChipText"
                            anchors.verticalCenter: parent.verticalCenter
                            width: 74
                            horizontalAlignment: Text.AlignHCenter
                            text: root.targetChipText
                            font.family: Theme.fontFamily
                            font.pixelSize: 19
                            font.weight: Font.Bold
                            color: Theme.white
                            Accessible.role: Accessible.StaticText
                            Accessible.name: "Target loudness"
                            Accessible.description: root.hasTarget ? root.targetChipText + " LUFS" : "Off"
                        }
                        StepButton {
                            objectName: "targetUpButton"
                            anchors.verticalCenter: parent.verticalCenter
                            symbol: "plus"
                            onClicked: root.adjustTarget(0.5)
                            Accessible.name: "Raise the target"
                        }
                    }

                    DashboardChip {
                        objectName: "startStopChip"
                        anchors.verticalCenter: parent.verticalCenter
                        StartStopButton {
                            objectName: "startStopButton"
                            running: root.appState !== null && root.appState.isRunning
                            onClicked: root.toggleRunning()
                        }
                    }

                    DashboardChip {
                        objectName: "rangeChip"
                        anchors.verticalCenter: parent.verticalCenter
                        ChipCaption {
                            anchors.verticalCenter: parent.verticalCenter
                            text: "RANGE\nLU"
                        }
                        StepButton {
                            objectName: "rangeDownButton"
                            anchors.verticalCenter: parent.verticalCenter
                            symbol: "minus"
                            onClicked: root.adjustRange(-0.5)
                            Accessible.name: "Narrow the radar range"
                        }
                        Text {
                            objectName: "rangeChipText"
                            anchors.verticalCenter: parent.verticalCenter
                            width: 74
                            horizontalAlignment: Text.AlignHCenter
                            text: root.rangeChipText
                            font.family: Theme.monoFontFamily
                            font.pixelSize: 19
                            font.weight: Font.Bold
                            color: Theme.white
                            Accessible.role: Accessible.StaticText
                            Accessible.name: "Radar range"
                            Accessible.description: root.rangeChipText + " LU"
                        }
                        StepButton {
                            objectName: "rangeUpButton"
                            anchors.verticalCenter: parent.verticalCenter
                            symbol: "plus"
                            onClicked: root.adjustRange(0.5)
                            Accessible.name: "Widen the radar range"
                        }
                    }

                    DashboardChip {
                        objectName: "resetChip"
                        anchors.verticalCenter: parent.verticalCenter
                        Button {
                            id: resetButton
                            objectName: "resetButton"
                            width: 130
                            height: 52
                            focusPolicy: Qt.NoFocus
                            onClicked: root.resetMeasurement()
                            Accessible.name: "Reset the measurement"
                            contentItem: Text {
                                text: "RESET"
                                font.family: Theme.fontFamily
                                font.pixelSize: 17
                                font.weight: Font.Black
                                color: Theme.white
                                horizontalAlignment: Text.AlignHCenter
                                verticalAlignment: Text.AlignVCenter
                            }
                            background: Rectangle {
                                radius: 14
                                color: resetButton.down ? Qt.darker(Theme.red, 1.25)
                                                        : (resetButton.hovered ? Qt.lighter(Theme.red, 1.1) : Theme.red)
                            }
                        }
                    }
                }
            }
        }
    }

    Component {
        id: inputSelectorComponent
        InputSelector {
            appState: root.appState
        }
    }
}
