import QtQuick
import Orvinta.Ui

// The frequency analyzer panel: the spectrum view with the panel look, both channels shown at
// first. Keeps no state of its own.
DashboardPanel {
    id: panel

    property var spectrumDB

    objectName: "frequencyAnalyzerPanel"

    SpectrumAnalyzerView {
        id: spectrum
        objectName: "spectrumAnalyzerView"
        anchors.fill: parent
        channelMode: "L+R"
        Binding on spectrumDB {
            when: panel.spectrumDB !== undefined && panel.spectrumDB !== null
            value: panel.spectrumDB
        }
    }
}
