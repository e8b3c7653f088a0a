import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Brimvale

// The Cleanup List, docked under the Explorer: what is staged, what it frees, and the way to the
// review. Files dropped from a file manager are staged as if ticked.
Rectangle {
    id: tray
    property bool expanded: true
    readonly property alias rows: rows
    readonly property alias reviewButton: reviewButton
    readonly property bool dropping: drop.containsDrag
    signal reviewRequested()

    implicitHeight: column.implicitHeight
    color: drop.containsDrag ? Theme.selection : Theme.sidebar
    Accessible.role: Accessible.Grouping
    Accessible.name: "Cleanup List"

    Rectangle { anchors.top: parent.top; width: parent.width; height: 1; color: Theme.separator }

    DropArea {
        id: drop
        anchors.fill: parent
        keys: ["text/uri-list"]
        onEntered: (drag) => { drag.accepted = commands.dropHasFiles(drag.urls) }
        onDropped: (dropped) => {
            if (commands.stageDrop(dropped.urls) > 0) {
                dropped.acceptProposedAction()
                tray.expanded = true
            }
        }
    }

    ColumnLayout {
        id: column
        anchors.left: parent.left
        anchors.right: parent.right
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: Theme.spacing * 1.5
            Layout.rightMargin: Theme.spacing
            Layout.topMargin: 6
            Layout.bottomMargin: 6
            spacing: Theme.spacing

            Symbol {
                name: "tray.full"
                tint: Theme.accent
            }
            Label {
                text: "Cleanup List"
                color: Theme.text
                font.weight: Font.DemiBold
            }
            Label {
                objectName: "trayCount"
                Layout.fillWidth: true
                text: texts.trayCount
                color: Theme.secondaryText
                elide: Text.ElideRight
            }
            PrimaryButton {
                id: reviewButton
                objectName: "reviewButton"
                text: "Review && Move to Trash…"
                Accessible.name: "Review & Move to Trash…"
                enabled: texts.stagedCount > 0 && appModel.shorelinePhase !== Brimvale.ShorelinePhase.analyzing
                         && !appModel.removing
                readonly property string help: appModel.shorelinePhase === Brimvale.ShorelinePhase.analyzing
                                               ? "Waiting for Suggestions to finish" : ""
                Accessible.description: help
                HoverHandler { id: reviewHover }
                ToolTip.visible: help !== "" && reviewHover.hovered
                ToolTip.text: help
                onClicked: tray.reviewRequested()
            }
            IconButton {
                objectName: "trayChevron"
                symbol: tray.expanded ? "chevron.down" : "chevron.up"
                help: tray.expanded ? "Collapse the Cleanup List" : "Expand the Cleanup List"
                onClicked: tray.expanded = !tray.expanded
            }
        }

        Label {
            objectName: "trayEmptyText"
            visible: tray.expanded && texts.stagedCount === 0
            Layout.fillWidth: true
            Layout.leftMargin: Theme.spacing * 1.5
            Layout.rightMargin: Theme.spacing * 1.5
            Layout.bottomMargin: Theme.spacing
            text: "Tick the box beside an item, drag things here, or right-click a slice. Nothing is removed until you review and confirm. Then it goes to the Trash, unless you choose to delete it for good."
            color: Theme.secondaryText
            wrapMode: Text.WordWrap
        }

        ListView {
            id: rows
            objectName: "stagedRows"
            visible: tray.expanded && count > 0
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(contentHeight, Theme.rowHeight * 4)
            Layout.bottomMargin: 4
            clip: true
            model: appModel.cleanupList
            activeFocusOnTab: true
            keyNavigationEnabled: true
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {}
            Accessible.role: Accessible.List
            Accessible.name: "Cleanup List items"
            Keys.onDeletePressed: if (currentItem) appModel.unstage(currentItem.itemId)
            delegate: StagedRow {
                width: ListView.view.width
                current: ListView.isCurrentItem && rows.activeFocus
            }
        }
    }
}
