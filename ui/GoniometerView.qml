import QtQuick
import QtQuick.Layouts
import Orvinta.Ui

// The stereo image: the goniometer on the left, the correlation meter with its numeric
// read-out on the right, each under a caption.
// Sits on a dashboard panel: its painted instruments fill with the panel's colour, opaque.
RowLayout {
    id: root

    // The goniometer points (a GoniometerPointList), oldest first.
    property alias points: scope.points
    // The phase correlation, or undefined when there is none (fewer than two channels).
    property var correlation

    spacing: 24

    ColumnLayout {
        id: scopeColumn

        Layout.alignment: Qt.AlignTop | Qt.AlignLeft
        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.minimumWidth: scope.Layout.minimumWidth
        spacing: 8

        SectionTitle {
            id: scopeCaption

            text: "LR PHASE SCOPE"
        }

        GoniometerCanvasView {
            id: scope

            // Square, at least 150 points, growing to the width the correlation column leaves
            // and the height the caption leaves. Taken from the row's own size: the column's
            // size follows the canvas, so measuring the column would never let it grow.
            readonly property real side: Math.max(150, Math.min(
                root.width - root.spacing - correlationColumn.Layout.preferredWidth,
                root.height - scopeCaption.implicitHeight - scopeColumn.spacing))

            fillColor: Theme.panelSurface
            Layout.alignment: Qt.AlignTop | Qt.AlignLeft
            Layout.minimumWidth: 150
            Layout.minimumHeight: 150
            Layout.preferredWidth: side
            Layout.preferredHeight: side
            Layout.maximumWidth: side
            Layout.maximumHeight: side
        }
    }

    ColumnLayout {
        id: correlationColumn

        Layout.alignment: Qt.AlignTop
        Layout.preferredWidth: 110
        Layout.minimumWidth: 110
        Layout.maximumWidth: 110
        Layout.fillHeight: true
        spacing: 8

        SectionTitle {
            text: "CORRELATION"
            // Never truncated: the caption keeps its natural size even if wider than the column.
            Layout.minimumWidth: implicitWidth
            Layout.alignment: Qt.AlignHCenter
        }

        CorrelationMeterBar {
            objectName: "correlationBar"
            value: CorrelationReadout.barValue(root.correlation)
            segmentsPerSide: 18
            fillColor: Theme.panelSurface
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: 30
            Layout.fillHeight: true
        }

        Text {
            objectName: "correlationReadout"
            text: CorrelationReadout.text(root.correlation)
            color: CorrelationReadout.color(root.correlation)
            font.family: Theme.monoFontFamily
            font.pixelSize: Theme.fontStartStop
            font.bold: true
            Layout.alignment: Qt.AlignHCenter
        }
    }
}
