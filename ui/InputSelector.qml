import QtQuick
import QtQuick.Controls.Basic
import Orvinta.Ui

// The input source pop-up with the captured format under it. The pop-up lists the microphone,
// the system audio and, under a separator, each application playing now; while it is open the
// list of applications is asked for again every two seconds. The format line always takes its
// place (a transparent no-break space while no format is known), so nothing below it moves.
Column {
    id: selector

    property QtObject appState
    readonly property string formatText: appState ? appState.inputFormatDescription : ""

    objectName: "inputSelector"
    spacing: 3

    ComboBox {
        id: combo
        objectName: "inputSourcePicker"
        anchors.right: parent.right
        width: 170
        height: 30
        // Takes focus when clicked, so the arrow keys move the highlight of its open list.
        focusPolicy: Qt.ClickFocus
        readonly property var fixedOptions: selector.appState ? selector.appState.inputSourceOptions() : []
        readonly property var options: selector.appState
                                       ? fixedOptions.concat(selector.appState.playingApplications)
                                       : []
        model: options
        textRole: "displayName"
        valueRole: "rawValue"
        currentIndex: {
            const current = selector.appState ? selector.appState.inputSource : ""
            for (let i = 0; i < options.length; ++i) {
                if (options[i].rawValue === current)
                    return i
            }
            return -1
        }
        onActivated: index => {
            if (selector.appState)
                selector.appState.inputSource = options[index].rawValue
        }
        Accessible.name: "Input source"
        Accessible.description: selector.appState ? selector.appState.inputSourceDisplayName : ""

        contentItem: Text {
            leftPadding: 12
            rightPadding: 26
            text: combo.displayText
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontTitle
            font.weight: Font.Medium
            color: Theme.white
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
        }
        indicator: SymbolIcon {
            x: combo.width - width - 12
            anchors.verticalCenter: parent.verticalCenter
            width: 9
            height: 11
            name: "chevrons"
            lineWidth: 1.8
            color: Theme.white
        }
        background: Rectangle {
            radius: Theme.radiusControl
            color: Theme.alpha(Theme.white, combo.pressed ? 0.16 : (combo.hovered ? 0.12 : 0.08))
            border.color: Theme.alpha(Theme.white, 0.15)
            border.width: 1
        }
        delegate: ItemDelegate {
            id: entry
            required property var modelData
            required property int index
            readonly property bool isApplication: index >= combo.fixedOptions.length
            // The first application entry carries the separator above it.
            readonly property int separatorSpace: index === combo.fixedOptions.length ? 9 : 0
            width: combo.width - 8
            height: 30 + separatorSpace
            topInset: separatorSpace
            topPadding: verticalPadding + separatorSpace
            focusPolicy: Qt.NoFocus
            highlighted: combo.highlightedIndex === index
            text: modelData.displayName
            Accessible.name: isApplication ? "Application " + text : text
            Rectangle {
                visible: entry.separatorSpace > 0
                x: 8
                y: 4
                width: entry.width - 16
                height: 1
                color: Theme.alpha(Theme.white, 0.18)
            }
            contentItem: Text {
                text: entry.text
                elide: Text.ElideRight
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontTitle
                font.weight: combo.currentIndex === entry.index ? Font.Bold : Font.Normal
                color: Theme.white
                verticalAlignment: Text.AlignVCenter
            }
            background: Rectangle {
                radius: Theme.radiusSmall
                color: entry.highlighted ? Theme.alpha(Theme.accent, 0.6) : "transparent"
            }
        }
        popup: Popup {
            y: combo.height + 2
            width: combo.width
            padding: 4
            implicitHeight: contentItem.implicitHeight + 8
            contentItem: ListView {
                clip: true
                implicitHeight: contentHeight
                model: combo.popup.visible ? combo.delegateModel : null
                currentIndex: combo.highlightedIndex
            }
            background: Rectangle {
                radius: Theme.radiusPopup
                color: "#26282b"
                border.color: Theme.alpha(Theme.white, 0.15)
                border.width: 1
            }
        }
    }

    Timer {
        interval: 2000
        repeat: true
        triggeredOnStart: true
        running: combo.popup.visible && selector.appState !== null
        onTriggered: selector.appState.refreshPlayingApplications()
    }
    Component.onCompleted: {
        if (appState)
            appState.refreshPlayingApplications()
    }

    Text {
        objectName: "inputFormatText"
        anchors.right: parent.right
        text: selector.formatText.length > 0 ? selector.formatText : "\u00a0"
        color: selector.formatText.length > 0 ? Theme.caption : "transparent"
        font.family: Theme.monoFontFamily
        font.pixelSize: Theme.fontSmall
        Accessible.role: Accessible.StaticText
        Accessible.name: "Input format"
        Accessible.description: selector.formatText.length > 0 ? selector.formatText : "unknown"
    }

    Text {
        objectName: "systemAudioHint"
        anchors.right: parent.right
        visible: selector.appState !== null && selector.appState.inputSource === "systemAudio"
        text: "Listens to the default output"
        color: Theme.alpha(Theme.white, 0.55)
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontHint
    }
}
