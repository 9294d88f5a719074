import QtQuick
import QtQuick.Controls.Basic
import Orvinta.Ui

// The control row: PRESET, RADAR CYCLE, TARGET, START/STOP, RANGE and RESET, and the window's
// keys: the arrows move the target (with Shift the radar range), Space starts and stops, Delete
// and Backspace reset.
Item {
    id: controlRow

    property QtObject appState
    property var radarCycleOptions: []
    property string radarCycleLabel
    property var targetLUFS
    readonly property bool hasTarget: typeof targetLUFS === "number"
    // A start in progress reads as running: pressing STOP then cancels it.
    readonly property bool running: appState !== null
        && (appState.isRunning || appState.isStarting === true)

    function toggleRunning() {
        if (!appState)
            return
        if (running)
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

    implicitHeight: controls.implicitHeight

    GlobalArrowKeyHandler {
        objectName: "arrowKeyHandler"
        window: controlRow.Window.window
        onLeft: controlRow.adjustTarget(-0.5)
        onDown: controlRow.adjustTarget(-0.5)
        onRight: controlRow.adjustTarget(0.5)
        onUp: controlRow.adjustTarget(0.5)
        onShiftLeft: controlRow.adjustRange(-0.5)
        onShiftDown: controlRow.adjustRange(-0.5)
        onShiftRight: controlRow.adjustRange(0.5)
        onShiftUp: controlRow.adjustRange(0.5)
    }
    WindowKeyShortcut {
        objectName: "startStopShortcut"
        window: controlRow.Window.window
        keys: [Qt.Key_Space]
        onActivated: controlRow.toggleRunning()
    }
    WindowKeyShortcut {
        objectName: "resetShortcut"
        window: controlRow.Window.window
        keys: [Qt.Key_Backspace, Qt.Key_Delete]
        onActivated: controlRow.resetMeasurement()
    }

    Row {
        id: controls
        objectName: "controlRow"
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 12

        OptionMenu {
            id: presetChip
            readonly property string currentDisplayName: {
                for (const option of options) {
                    if (option.rawValue === currentValue)
                        return option.displayName
                }
                return ""
            }
            objectName: "presetChip"
            buttonName: "presetButton"
            anchors.verticalCenter: parent.verticalCenter
            caption: "PRESET"
            text: controlRow.appState ? controlRow.appState.targetMenuLabel : ""
            accessibleName: "Target preset"
            accessibleDescription: currentDisplayName
            options: controlRow.appState ? controlRow.appState.targetOptions() : []
            textRole: "menuLabel"
            valueRole: "rawValue"
            toolTipRole: "displayName"
            currentValue: controlRow.appState ? controlRow.appState.target : undefined
            onChosen: value => {
                if (controlRow.appState)
                    controlRow.appState.target = value
            }
        }

        OptionMenu {
            objectName: "radarCycleChip"
            buttonName: "radarCycleButton"
            anchors.verticalCenter: parent.verticalCenter
            caption: "RADAR\nCYCLE"
            text: controlRow.radarCycleLabel
            accessibleName: "Radar cycle"
            accessibleDescription: controlRow.radarCycleLabel
            options: controlRow.radarCycleOptions
            currentValue: controlRow.appState ? controlRow.appState.radarCycleSeconds : undefined
            onChosen: value => {
                if (controlRow.appState)
                    controlRow.appState.radarCycleSeconds = value
            }
        }

        StepperChip {
            objectName: "targetChip"
            name: "target"
            anchors.verticalCenter: parent.verticalCenter
            caption: "TARGET\nLUFS"
            valueText: Theme.formatValue(MeterScale.chipTarget(controlRow.targetLUFS))
            lowerName: "Lower the target"
            raiseName: "Raise the target"
            valueName: "Target loudness"
            valueDescription: controlRow.hasTarget ? valueText + " LUFS" : "Off"
            onStepped: delta => controlRow.adjustTarget(delta)
        }

        DashboardChip {
            objectName: "startStopChip"
            anchors.verticalCenter: parent.verticalCenter
            StartStopButton {
                objectName: "startStopButton"
                running: controlRow.running
                onClicked: controlRow.toggleRunning()
            }
        }

        StepperChip {
            objectName: "rangeChip"
            name: "range"
            anchors.verticalCenter: parent.verticalCenter
            caption: "RANGE\nLU"
            valueText: Theme.formatValue(controlRow.appState ? controlRow.appState.radarRangeLU : 20)
            valueFontFamily: Theme.monoFontFamily
            lowerName: "Narrow the radar range"
            raiseName: "Widen the radar range"
            valueName: "Radar range"
            valueDescription: valueText + " LU"
            onStepped: delta => controlRow.adjustRange(delta)
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
                onClicked: controlRow.resetMeasurement()
                Accessible.name: "Reset the measurement"
                contentItem: Text {
                    text: "RESET"
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.fontResetButton
                    font.weight: Font.Black
                    color: Theme.white
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
                background: Rectangle {
                    radius: Theme.radiusResetButton
                    color: resetButton.down ? Qt.darker(Theme.red, 1.25)
                                            : (resetButton.hovered ? Qt.lighter(Theme.red, 1.1) : Theme.red)
                }
            }
        }
    }
}
