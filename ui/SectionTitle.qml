import QtQuick
import Orvinta.Ui

// The bold caption over a panel or a section of one.
Text {
    font.family: Theme.fontFamily
    font.pixelSize: Theme.fontTitle
    font.weight: Font.Bold
    color: Theme.caption
}
