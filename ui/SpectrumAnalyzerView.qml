import QtQuick
import QtQuick.Layouts
import Orvinta.Ui

// The frequency response: a captioned spectrum plot of the left and right channels and their
// average, a colour legend and the channel selector.
// Sits on a dashboard panel: its painted instruments fill with the panel's colour, opaque.
ColumnLayout {
    id: root

    // The spectrum rows (a SpectrumRows value): row 0 left, row 1 right.
    property alias spectrumDB: plot.spectrumDB
    // The selected curves by their selector label: "L+R", "L" or "R". Lives with this view only.
    property string channelMode: "L+R"

    spacing: 8

    component SpectrumLegendEntry: LegendEntry {
        spacing: 4
        swatchWidth: 12
        fontSize: Theme.fontSmall
    }

    SectionTitle {
        text: "FREQUENCY RESPONSE"
        Layout.alignment: Qt.AlignLeft
    }

    SpectrumCanvasView {
        id: plot

        objectName: "spectrumCanvas"
        mode: root.channelMode
        minDB: -90.0
        maxDB: 12.0
        fillColor: Theme.panelSurface
        referenceHz: [20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000]
        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.minimumHeight: 250
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 16

        SpectrumLegendEntry {
            label: "L"
            swatch: Theme.cyan
            Layout.alignment: Qt.AlignVCenter
        }
        SpectrumLegendEntry {
            objectName: "rightLegend"
            label: "R"
            swatch: Theme.pink
            visible: plot.rowCount > 1
            Layout.alignment: Qt.AlignVCenter
        }
        Item {
            Layout.fillWidth: true
        }

        // The channel selector: one segment per channel mode, labelled with its raw value.
        Rectangle {
            id: selector

            objectName: "channelSelector"
            readonly property var modes: ["L+R", "L", "R"]

            Layout.alignment: Qt.AlignVCenter
            Layout.preferredWidth: 140
            Layout.preferredHeight: 24
            radius: Theme.radiusButton
            color: Theme.alpha(Theme.white, 0.06)
            border.width: 1
            border.color: Theme.alpha(Theme.white, 0.15)

            Row {
                anchors.fill: parent
                anchors.margins: 2

                Repeater {
                    model: selector.modes

                    Rectangle {
                        id: segment

                        required property string modelData
                        readonly property bool selected: root.channelMode === modelData

                        objectName: "channelSegment_" + modelData
                        width: (selector.width - 4) / selector.modes.length
                        height: parent.height
                        radius: 4
                        color: selected ? Theme.alpha(Theme.white, 0.24)
                                        : hover.hovered ? Theme.alpha(Theme.white, 0.1)
                                                        : "transparent"

                        Accessible.role: Accessible.RadioButton
                        Accessible.name: modelData
                        Accessible.checked: selected

                        Text {
                            anchors.centerIn: parent
                            text: segment.modelData
                            color: segment.selected ? Theme.white : Theme.caption
                            font.family: Theme.fontFamily
                            font.pixelSize: Theme.fontLabel
                            font.bold: segment.selected
                        }
                        HoverHandler {
                            id: hover
                        }
                        TapHandler {
                            onTapped: root.channelMode = segment.modelData
                        }
                    }
                }
            }
        }
    }
}
