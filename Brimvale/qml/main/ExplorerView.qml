import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import Brimvale
import ".."

// The Explorer: toolbar, breadcrumbs, the ring beside the item list, the storage bar with the
// savings line, and the Cleanup List docked underneath.
Item {
    id: explorer
    readonly property alias ringPane: ringPane
    readonly property alias itemList: itemList
    readonly property alias tray: tray
    readonly property alias targetMenu: targetMenu
    readonly property alias folderDialog: folderDialog
    readonly property alias breadcrumbs: crumbs
    readonly property real trayHeight: tray.height
    signal reviewRequested()

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        // Toolbar.
        ToolBar {
            Layout.fillWidth: true
            background: Rectangle { color: Theme.window }
            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: Theme.spacing
                anchors.rightMargin: Theme.spacing
                spacing: Theme.spacing / 2

                IconButton {
                    objectName: "upButton"
                    text: "Up"
                    symbol: "chevron.left"
                    help: "Go up one level (Alt+Up)"
                    enabled: texts.canGoUp
                    onClicked: appModel.goUp()
                }
                IconButton {
                    id: targetButton
                    objectName: "targetButton"
                    text: appModel.targetTitle
                    symbol: texts.targetSymbol
                    help: "What to scan"
                    Layout.maximumWidth: 220
                    onClicked: targetMenu.popup(targetButton, 0, targetButton.height)

                    Menu {
                        id: targetMenu
                        objectName: "targetMenu"
                        MenuItem {
                            text: "Startup Disk"
                            onTriggered: commands.chooseStartupDisk()
                        }
                        MenuItem {
                            text: "Home Folder"
                            onTriggered: commands.chooseHome()
                        }
                        MenuItem {
                            text: "Choose Folder…"
                            onTriggered: folderDialog.open()
                        }
                        MenuSeparator {}
                        MenuItem {
                            text: "Scan Startup Disk as Administrator…"
                            enabled: commands.adminScanAvailable
                            onTriggered: commands.scanAsAdministrator()
                        }
                    }
                }
                IconButton {
                    objectName: "scanButton"
                    text: texts.scanning ? "Stop" : "Rescan"
                    symbol: texts.scanning ? "stop.circle" : "arrow.clockwise"
                    help: texts.scanning ? "" : "Scan again from scratch (Ctrl+R)"
                    onClicked: texts.scanning ? appModel.stopScan() : appModel.rescan()
                }
                Label {
                    objectName: "subtitle"
                    Layout.fillWidth: true
                    Layout.leftMargin: Theme.spacing
                    horizontalAlignment: Text.AlignRight
                    text: texts.subtitle
                    color: Theme.tertiaryText
                    elide: Text.ElideLeft
                }
            }
        }

        // Breadcrumbs.
        ListView {
            id: crumbs
            objectName: "breadcrumbs"
            Layout.fillWidth: true
            Layout.leftMargin: Theme.spacing
            Layout.rightMargin: Theme.spacing
            height: 28
            Layout.preferredHeight: 28
            orientation: ListView.Horizontal
            clip: true
            model: appModel.breadcrumbModel
            activeFocusOnTab: true
            keyNavigationEnabled: true
            currentIndex: count - 1
            Accessible.role: Accessible.List
            Accessible.name: "Location"
            onCountChanged: positionViewAtEnd()
            Keys.onReturnPressed: if (currentItem) appModel.focusOn(currentItem.node)
            Keys.onSpacePressed: if (currentItem) appModel.focusOn(currentItem.node)

            delegate: Row {
                id: crumb
                required property int index
                required property int node
                required property string title
                spacing: 2
                height: 28
                Symbol {
                    visible: crumb.index > 0
                    anchors.verticalCenter: parent.verticalCenter
                    name: "chevron.right"
                    size: 12
                    tint: Theme.tertiaryText
                }
                ToolButton {
                    anchors.verticalCenter: parent.verticalCenter
                    text: crumb.title
                    focusPolicy: Qt.NoFocus
                    flat: true
                    font.weight: crumb.index === crumbs.count - 1 ? Font.DemiBold : Font.Normal
                    palette.buttonText: Theme.text
                    Accessible.name: crumb.title
                    Accessible.role: Accessible.Button
                    onClicked: appModel.focusOn(crumb.node)
                    background: Rectangle {
                        radius: 4
                        color: parent.hovered ? Theme.hover : "transparent"
                        border.width: crumbs.activeFocus && crumbs.currentIndex === crumb.index ? 2 : 0
                        border.color: Theme.accent
                    }
                }
            }
        }

        // The ring and the list.
        RowLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 0

            RingPane {
                id: ringPane
                objectName: "ringPane"
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.minimumWidth: 200
            }
            Rectangle {
                Layout.fillHeight: true
                width: 1
                color: Theme.separator
            }
            ColumnLayout {
                Layout.fillHeight: true
                Layout.fillWidth: false
                Layout.preferredWidth: Math.max(240, Math.min(460, explorer.width * 0.4))
                Layout.maximumWidth: Layout.preferredWidth
                spacing: 0
                ItemList {
                    id: itemList
                    objectName: "itemList"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                }
            }
        }

        StorageBar {
            Layout.fillWidth: true
        }

        CleanupTray {
            id: tray
            objectName: "cleanupTray"
            Layout.fillWidth: true
            onReviewRequested: explorer.reviewRequested()
        }
    }

    FolderDialog {
        id: folderDialog
        objectName: "folderDialog"
        title: "Choose a folder to scan"
        acceptLabel: "Scan"
        onAccepted: commands.chooseFolder(selectedFolder)
    }
}
