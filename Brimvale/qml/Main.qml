import QtQuick
import QtQuick.Window

// The main window's frame; its panes arrive with the views.
Window {
    id: root
    width: 1100
    height: 720
    visible: true
    title: "Brimvale"
}
