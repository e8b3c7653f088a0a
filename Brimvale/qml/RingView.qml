import QtQuick
import QtQuick.Controls
import Brimvale

// The ring of the focused folder: hover, click to focus, the centre to go up, and a context menu
// on the arcs of items. Where the window cannot draw it on the GPU it says so instead.
Item {
    id: view

    property var model: null
    property bool dark: false
    property bool reducedMotion: false
    readonly property alias ring: ring
    readonly property alias menu: menu

    Accessible.role: Accessible.Graphic
    Accessible.name: "Disk usage ring"

    RingItem {
        id: ring
        anchors.fill: parent
        model: view.model
        dark: view.dark
        reducedMotion: view.reducedMotion
        visible: available

        onContextMenuRequested: (node, path, folder, at) => {
            menu.node = node
            menu.path = path
            menu.folder = folder
            menu.popup(ring, at)
        }
    }

    // Names and sizes on the arcs that have room; they follow the morph.
    Repeater {
        model: ring.available ? ring.labels : []
        delegate: Column {
            x: modelData.x - width / 2
            y: modelData.y - height / 2
            rotation: modelData.rotation
            opacity: modelData.opacity
            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: modelData.name
                color: modelData.color
                font.weight: Font.DemiBold
            }
            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: modelData.size
                color: modelData.color
            }
        }
    }

    Text {
        anchors.centerIn: parent
        width: parent.width * 0.8
        visible: !ring.available
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.WordWrap
        color: view.dark ? "#c8c8d0" : "#50505a"
        text: "The ring needs OpenGL or Vulkan, which this display does not offer. "
              + "The list beside it shows the same folders."
    }

    Menu {
        id: menu
        property int node: -1
        property string path: ""
        property bool folder: false

        MenuItem {
            text: "Open"
            visible: menu.folder
            height: visible ? implicitHeight : 0
            onTriggered: view.model.focusOn(menu.node)
        }
        MenuItem {
            text: "Add to the Cleanup List"
            onTriggered: view.model.stageNode(menu.node)
        }
        MenuSeparator {}
        MenuItem {
            text: "Show in File Manager"
            onTriggered: desktop.revealNode(menu.node)
        }
        MenuItem {
            text: "Copy Path"
            onTriggered: desktop.copyNodePath(menu.node)
        }
    }
}
