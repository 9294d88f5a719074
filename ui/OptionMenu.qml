import QtQuick
import Orvinta.Ui

// A control chip with a caption over a pop-up menu. The button shows `text`; the menu lists
// `options` (objects with the roles named below), checks the one whose value is `currentValue`
// and reports the one chosen.
DashboardChip {
    id: chip

    property alias caption: captionText.text
    property alias text: button.text
    property alias buttonName: button.objectName
    property string accessibleName
    property string accessibleDescription
    property var options: []
    property string textRole: "label"
    property string valueRole: "value"
    property string toolTipRole: ""
    property var currentValue

    signal chosen(var value)

    Column {
        spacing: 4
        ChipCaption {
            id: captionText
        }
        MenuButton {
            id: button
            onClicked: menu.popup(button, 0, button.height + 4)
            Accessible.name: chip.accessibleName
            Accessible.description: chip.accessibleDescription
            DarkMenu {
                id: menu
                Instantiator {
                    model: chip.options
                    delegate: DarkMenuItem {
                        required property var modelData
                        text: modelData[chip.textRole]
                        toolTip: chip.toolTipRole.length > 0 ? modelData[chip.toolTipRole] : ""
                        checkable: true
                        checked: modelData[chip.valueRole] === chip.currentValue
                        onTriggered: chip.chosen(modelData[chip.valueRole])
                    }
                    onObjectAdded: (index, object) => menu.insertItem(index, object)
                    onObjectRemoved: (index, object) => menu.removeItem(object)
                }
            }
        }
    }
}
