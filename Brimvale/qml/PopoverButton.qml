import QtQuick
import QtQuick.Controls
import Brimvale

// A borderless button of the popover: text in the accent colour, a soft fill under the pointer.
AbstractButton {
    id: button
    hoverEnabled: true
    padding: 6
    font.pixelSize: 12
    contentItem: Text {
        text: button.text
        font: button.font
        color: Theme.accent
        verticalAlignment: Text.AlignVCenter
    }
    background: Rectangle {
        radius: 5
        color: button.down ? Theme.selection : button.hovered ? Theme.hover : "transparent"
    }
}
