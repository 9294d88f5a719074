import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orvinta.Ui

// The phase analyzer panel: the goniometer and correlation meter under their title, with a
// button that hides the phase and frequency panels. Keeps no state of its own.
DashboardPanel {
    id: panel

    property var goniometerPoints
    property var phaseCorrelation
    property bool isPresented: true

    objectName: "phaseAnalyzerPanel"

    ColumnLayout {
        anchors.fill: parent
        spacing: 14

        RowLayout {
            Layout.fillWidth: true
            SectionTitle {
                text: "PHASE ANALYZER"
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            Item { Layout.fillWidth: true }
            Button {
                id: closeButton
                objectName: "phasePanelCloseButton"
                implicitWidth: 18
                implicitHeight: 18
                padding: 0
                flat: true
                focusPolicy: Qt.NoFocus
                onClicked: panel.isPresented = false
                ToolTip.visible: hovered
                ToolTip.delay: 600
                ToolTip.text: "Hide the Phase / EQ panels"
                Accessible.name: "Hide the Phase / EQ panels"
                contentItem: SymbolIcon {
                    name: "closeCircle"
                    color: Theme.alpha(Theme.white, closeButton.hovered ? 0.95 : 0.75)
                    lineWidth: 1.8
                }
                background: Item {}
            }
        }

        GoniometerView {
            id: goniometer
            objectName: "goniometerView"
            Layout.fillWidth: true
            Layout.fillHeight: true
            correlation: panel.phaseCorrelation
            Binding on points {
                when: panel.goniometerPoints !== undefined && panel.goniometerPoints !== null
                value: panel.goniometerPoints
            }
        }
    }
}
