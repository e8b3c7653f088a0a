import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Brimvale
import "main"

// The Suggestions header: what can be freed safely, what is worth a look, what the Trash holds
// already, Refresh, and the button that sends the ticked findings to the Cleanup List.
ColumnLayout {
    id: header
    spacing: Theme.spacing

    readonly property var suggestions: appModel.suggestions
    readonly property real remaining: Math.max(0, appModel.shorelineTotalBytes - appModel.shorelineSafeBytes)

    RowLayout {
        Layout.fillWidth: true
        spacing: 0
        Label {
            objectName: "headerLead"
            text: "Brimvale can free up to"
            color: Theme.text
            font.pixelSize: 22
        }
        Label {
            objectName: "headerSafe"
            text: " " + appModel.formatBytes(appModel.shorelineSafeBytes) + " safely"
            color: Theme.text
            font.pixelSize: 22
            font.weight: Font.Bold
        }
        Item { Layout.fillWidth: true }
    }
    Label {
        objectName: "headerAnother"
        Layout.fillWidth: true
        wrapMode: Text.Wrap
        color: Theme.secondaryText
        text: "Another " + appModel.formatBytes(appModel.shorelineTotalBytes - appModel.shorelineSafeBytes)
              + " is worth a look. Safe items are ticked for you; nothing is removed until you confirm in the Cleanup List."
    }
    RowLayout {
        Layout.fillWidth: true
        visible: appModel.trashBytes > 0
        spacing: Theme.spacing
        Symbol { name: "trash" }
        Label {
            objectName: "headerTrash"
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            color: Theme.secondaryText
            text: "Your Trash already holds " + appModel.formatBytes(appModel.trashBytes)
                  + ". Empty it in your file manager to get that space back."
        }
    }
    RowLayout {
        Layout.fillWidth: true
        Layout.topMargin: Theme.spacing / 2
        Layout.bottomMargin: Theme.spacing
        spacing: Theme.spacing
        Button {
            objectName: "refreshButton"
            text: "Refresh"
            icon.source: "image://icons/symbol/arrow.clockwise/" + Theme.text.toString().substring(1)
            onClicked: appModel.analyzeShoreline()
        }
        Item { Layout.fillWidth: true }
        Button {
            objectName: "sendButton"
            highlighted: true
            enabled: header.suggestions.checkedCount > 0
            icon.source: "image://icons/symbol/tray.and.arrow.down/" + (enabled ? Theme.accent : Theme.tertiaryText).toString().substring(1)
            text: "Send " + header.suggestions.checkedCount + " to the Cleanup List ("
                  + appModel.formatBytes(header.suggestions.checkedBytes) + ")"
            onClicked: appModel.sendCheckedToLowTide()
        }
    }
}
