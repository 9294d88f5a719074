import QtQuick
import QtQuick.Controls.Basic
import Orvinta.Ui

// A pop-up menu in the dashboard's dark look; its entries are DarkMenuItems.
Menu {
    padding: 4
    background: Rectangle {
        implicitWidth: 150
        radius: Theme.radiusPopup
        color: "#26282b"
        border.color: Theme.alpha(Theme.white, 0.15)
        border.width: 1
    }
}
