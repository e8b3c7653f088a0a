import QtQuick
import QtQuick.Window

// The main window's frame; its panes arrive with the views.
Window {
    id: root
    width: 1100
    height: 720
    visible: true
    title: "Brimvale"
    color: appearance.dark ? "#1c1c22" : "#f6f6f9"

    RingView {
        anchors.fill: parent
        model: appModel
        dark: appearance.dark
        reducedMotion: appearance.reducedMotion
    }
}
