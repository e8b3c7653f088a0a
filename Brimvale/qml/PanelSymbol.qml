import QtQuick
import QtQuick.Controls.impl
import Brimvale

// A design symbol drawn from the desktop's icon theme (freedesktop names), tinted like text.
IconImage {
    id: symbol
    property string symbolName
    property int size: 16

    readonly property var names: ({
        "checkmark.seal": "emblem-ok-symbolic",
        "house": "user-home-symbolic",
        "trash": "user-trash-symbolic",
        "tray.and.arrow.down": "document-send-symbolic",
        "chevron.right": "go-next-symbolic",
        "exclamationmark.triangle.fill": "dialog-warning-symbolic",
        "magnifyingglass": "edit-find-symbolic",
        "circle.dashed": "content-loading-symbolic",
        "circle.circle": "media-record-symbolic",
        "checkmark.square": "checkbox-checked-symbolic",
        "sparkles": "starred-symbolic",
        "chart.line.uptrend.xyaxis": "utilities-system-monitor-symbolic",
        "menubar.rectangle": "preferences-desktop-display-symbolic",
        "gearshape": "preferences-system-symbolic",
        "arrow.down.circle": "software-update-available-symbolic",
        "arrow.clockwise": "view-refresh-symbolic"
    })

    name: names[symbolName] || "image-missing"
    sourceSize.width: size
    sourceSize.height: size
    width: size
    height: size
    color: Theme.secondaryText
    Accessible.ignored: true
}
