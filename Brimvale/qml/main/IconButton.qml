import QtQuick
import QtQuick.Controls
import Brimvale

// A flat tool button with a symbol, an optional label and its help as tooltip and accessible
// description.
ToolButton {
    id: button
    property string symbol: ""
    property string help: ""

    display: text === "" ? AbstractButton.IconOnly : AbstractButton.TextBesideIcon
    icon.source: symbol === "" ? ""
        : "image://icons/symbol/" + encodeURIComponent(symbol) + "/"
          + (enabled ? Theme.text : Theme.tertiaryText).toString().substring(1)
    icon.color: "transparent"
    icon.width: 16
    icon.height: 16
    palette.buttonText: enabled ? Theme.text : Theme.tertiaryText
    focusPolicy: Qt.StrongFocus
    Accessible.name: text !== "" ? text : help
    Accessible.description: help
    ToolTip.visible: help !== "" && hovered
    ToolTip.text: help
    ToolTip.delay: 600
}
