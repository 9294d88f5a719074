import QtQuick
import Orvinta.Ui

// The small caption of a control chip, one or two lines.
Text {
    font.family: Theme.fontFamily
    font.pixelSize: Theme.fontSmall
    font.weight: Font.DemiBold
    color: Theme.caption
    lineHeight: 1.05
    horizontalAlignment: Text.AlignLeft
    Accessible.ignored: true
}
