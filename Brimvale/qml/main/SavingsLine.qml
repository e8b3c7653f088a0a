import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Brimvale

// What Brimvale freed or parked in the Trash, in a long form and, where room is short, a short
// one; the tooltip says the rest.
Item {
    id: line
    readonly property string kind: texts.savingsKind
    // The short form where the long one (with its buttons) would not fit.
    readonly property bool shortForm: width < longMetrics.width + emptyMetrics.width + 260
    readonly property alias text: main.text
    readonly property alias emptyText: empty.text
    readonly property alias deleteNowDialog: deleteNow

    visible: kind !== "none"

    TextMetrics {
        id: longMetrics
        text: texts.savingsLong.replace(/<\/?b>/g, "")
        font.bold: true
    }
    TextMetrics {
        id: emptyMetrics
        text: texts.emptyLong.replace(/<\/?b>/g, "")
    }
    implicitHeight: visible ? row.implicitHeight : 0

    HoverHandler { id: hover }
    ToolTip.visible: hover.hovered && !deleteNow.opened
    ToolTip.text: texts.savingsTooltip
    ToolTip.delay: 500
    Accessible.role: Accessible.StaticText
    Accessible.name: main.text.replace(/<\/?b>/g, "") + " " + empty.text.replace(/<\/?b>/g, "")
    Accessible.description: texts.savingsTooltip

    RowLayout {
        id: row
        anchors.left: parent.left
        anchors.right: parent.right
        spacing: 6
        Symbol {
            visible: line.kind === "freed"
            name: "checkmark.circle"
            tint: Theme.green
        }
        BusyIndicator {
            visible: line.kind === "erasing"
            running: visible
            Layout.preferredWidth: 16
            Layout.preferredHeight: 16
        }
        Label {
            id: main
            objectName: "savingsText"
            textFormat: Text.StyledText
            text: line.shortForm ? texts.savingsShort : texts.savingsLong
            color: Theme.text
            elide: Text.ElideRight
            Layout.fillWidth: !empty.visible
        }
        Label {
            id: empty
            objectName: "savingsEmptyText"
            visible: line.kind === "waiting"
            textFormat: Text.StyledText
            text: line.shortForm ? texts.emptyShort : texts.emptyLong
            color: Theme.secondaryText
            elide: Text.ElideRight
            Layout.fillWidth: true
        }
        Button {
            objectName: "deleteNowButton"
            visible: line.kind === "waiting"
            text: line.shortForm ? "Delete…" : "Delete Now…"
            flat: true
            palette.buttonText: Theme.red
            onClicked: deleteNow.open()
        }
        Button {
            visible: line.kind === "waiting"
            text: "Open Trash"
            flat: true
            onClicked: desktop.openTrash()
        }
    }

    ConfirmDialog {
        id: deleteNow
        objectName: "deleteNowDialog"
        parent: Overlay.overlay
        title: "Delete what Brimvale cleared, for good?"
        message: texts.deleteNowMessage
        onConfirmed: appModel.deleteClearedTrashNow()
    }
}
