import QtQuick
import QtQuick.Controls
import Brimvale

// A one-line text elided in the middle; when it does not fit, the whole text is its tooltip.
Label {
    id: label
    elide: Text.ElideMiddle
    maximumLineCount: 1
    color: Theme.text
    Accessible.name: text

    HoverHandler { id: hover }
    ToolTip.visible: hover.hovered && label.truncated
    ToolTip.text: label.text
    ToolTip.delay: 500
}
