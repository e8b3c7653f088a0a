import QtQuick
import QtQuick.Window
import Brimvale

// The main window's frame; its panes arrive with the views.
Window {
    id: root
    width: 1100
    height: 720
    visible: true
    title: "Brimvale"
    color: Theme.window

    Binding {
        target: Theme
        property: "dark"
        value: appearance.dark
    }

    RingView {
        anchors.fill: parent
        model: appModel
        dark: Theme.dark
        reducedMotion: appearance.reducedMotion
    }
}
