import QtQuick
import QtQuick.Layouts
import Orvinta.Ui

// One history block of the read-out column: caption and current value, a sparkline of the
// recent history and the length of its window.
// Sits on a dashboard panel: its painted instruments fill with the panel's colour, opaque.
ColumnLayout {
    id: block

    property string caption
    property string accessibleName
    property string valueText
    property color valueColor
    property string metric
    property real windowSeconds
    property string windowLabel
    property var history

    spacing: 6

    // Caption and value share a line where there is room for both, else the value goes under
    // the caption, in every block alike (the column sets `compact`).
    property bool compact: false

    GridLayout {
        Layout.fillWidth: true
        columns: block.compact ? 1 : 3
        rowSpacing: 2
        columnSpacing: 8
        SectionTitle {
            Layout.alignment: block.compact ? Qt.AlignLeft : Qt.AlignBaseline
            text: block.caption
            Accessible.ignored: true
        }
        Item {
            visible: !block.compact
            Layout.fillWidth: true
        }
        Text {
            Layout.alignment: block.compact ? Qt.AlignLeft : Qt.AlignBaseline
            objectName: block.objectName + "Value"
            text: block.valueText
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontHistoryValue
            font.weight: Font.DemiBold
            color: block.valueColor
            Accessible.role: Accessible.StaticText
            Accessible.name: block.accessibleName
            Accessible.description: block.valueText + " LUFS"
        }
    }

    SparklineView {
        id: sparkline
        objectName: block.objectName + "Sparkline"
        Layout.fillWidth: true
        Layout.preferredHeight: 64
        windowSeconds: block.windowSeconds
        metric: block.metric
        color: block.valueColor
        minLUFS: -60
        maxLUFS: 0
        fillColor: Theme.panelSurface
        Accessible.role: Accessible.Chart
        Accessible.name: block.accessibleName + " history"
        Accessible.description: "last " + block.windowSeconds + " seconds"

        Binding on history {
            when: block.history !== undefined && block.history !== null
            value: block.history
        }
    }

    Text {
        text: block.windowLabel
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontLabel
        color: Theme.caption
        Accessible.ignored: true
    }
}
