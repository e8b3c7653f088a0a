import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Brimvale

// The focused folder's biggest items. Hovering a row (or moving to it with the keyboard)
// highlights it on the ring; Return opens a folder, Space ticks, the menu key opens the menu.
Item {
    id: listPane
    readonly property alias list: list
    readonly property alias menu: menu

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            Layout.margins: Theme.spacing
            ElidedLabel {
                objectName: "listTitle"
                Layout.fillWidth: true
                text: texts.listTitle
                font.weight: Font.DemiBold
            }
            Label {
                text: "Size"
                color: Theme.secondaryText
                Layout.rightMargin: 28
            }
        }
        Rectangle { Layout.fillWidth: true; height: 1; color: Theme.separator }

        ListView {
            id: list
            objectName: "itemListView"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: appModel.items
            activeFocusOnTab: true
            keyNavigationEnabled: true
            currentIndex: -1
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {}
            Accessible.role: Accessible.List
            Accessible.name: texts.listTitle

            onCurrentIndexChanged: {
                if (activeFocus && currentItem) appModel.hoverNode(currentItem.node)
            }
            onActiveFocusChanged: if (activeFocus && currentIndex < 0 && count > 0) currentIndex = 0
            Keys.onReturnPressed: if (currentItem && currentItem.isDirectory) appModel.focusOn(currentItem.node)
            Keys.onEnterPressed: if (currentItem && currentItem.isDirectory) appModel.focusOn(currentItem.node)
            Keys.onSpacePressed: if (currentItem) appModel.toggleStaged(currentItem.node)
            Keys.onMenuPressed: if (currentItem) menu.show(currentItem, currentItem.node, currentItem.stageState,
                                                           currentItem.width / 2, currentItem.height / 2)
            Keys.onPressed: (event) => {
                const up = event.key === Qt.Key_Backspace
                           || (event.key === Qt.Key_Up && (event.modifiers & Qt.AltModifier))
                // The list would take Alt+Up as a plain Up; it goes up a level here too.
                if (up && texts.canGoUp) {
                    appModel.goUp()
                    event.accepted = true
                }
            }

            delegate: Rectangle {
                id: row
                required property int index
                required property int node
                required property string name
                required property string sizeText
                required property bool isDirectory
                required property int stageState
                width: ListView.view.width
                height: Theme.rowHeight
                color: ListView.isCurrentItem && list.activeFocus ? Theme.selection
                     : hover.hovered ? Theme.hover : "transparent"
                Accessible.role: Accessible.ListItem
                Accessible.name: name + ", " + sizeText
                Accessible.selected: ListView.isCurrentItem

                HoverHandler {
                    id: hover
                    onHoveredChanged: hovered ? appModel.hoverNode(row.node) : appModel.clearHovered()
                }
                TapHandler {
                    acceptedButtons: Qt.RightButton
                    onTapped: (point) => menu.show(row, row.node, row.stageState,
                                                   point.position.x, point.position.y)
                }
                TapHandler {
                    acceptedButtons: Qt.LeftButton
                    onTapped: list.currentIndex = row.index
                    onDoubleTapped: if (row.isDirectory) appModel.focusOn(row.node)
                }

                RowLayout {
                    anchors.fill: parent
                    anchors.leftMargin: 4
                    anchors.rightMargin: 4
                    spacing: 6

                    StageBox {
                        objectName: "stageBox"
                        stageState: row.stageState
                        help: texts.checkboxHelp(row.stageState, row.name)
                        onClicked: appModel.toggleStaged(row.node)
                    }
                    Image {
                        Layout.preferredWidth: 16
                        Layout.preferredHeight: 16
                        sourceSize: Qt.size(32, 32)
                        source: "image://icons/item/" + (row.isDirectory ? "d" : "f") + "/"
                                + encodeURIComponent(row.name) + "/" + Theme.secondaryText.toString().substring(1)
                        Accessible.ignored: true
                    }
                    ElidedLabel {
                        objectName: "itemName"
                        Layout.fillWidth: true
                        text: row.name
                    }
                    Label {
                        text: row.sizeText
                        color: Theme.secondaryText
                    }
                    IconButton {
                        Layout.preferredWidth: 24
                        Layout.preferredHeight: 24
                        opacity: row.isDirectory ? 1 : 0
                        enabled: row.isDirectory
                        focusPolicy: Qt.NoFocus
                        symbol: "chevron.right"
                        help: row.isDirectory ? "Open " + row.name : ""
                        padding: 2
                        onClicked: appModel.focusOn(row.node)
                    }
                }
            }
        }
    }

    Menu {
        id: menu
        objectName: "itemMenu"
        property int node: -1
        property int stageState: Brimvale.StageState.off

        function show(item, node, stageState, x, y) {
            menu.node = node
            menu.stageState = stageState
            popup(item, x, y)
        }

        MenuItem {
            text: "Open"
            onTriggered: desktop.openNode(menu.node)
        }
        MenuItem {
            text: "Show in File Manager"
            onTriggered: desktop.revealNode(menu.node)
        }
        MenuItem {
            text: "Copy Path"
            onTriggered: desktop.copyNodePath(menu.node)
        }
        MenuSeparator {}
        MenuItem {
            text: menu.stageState === Brimvale.StageState.on ? "Take Out of the Cleanup List" : "Add to the Cleanup List"
            onTriggered: appModel.toggleStaged(menu.node)
        }
    }
}
