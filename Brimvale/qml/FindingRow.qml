import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Brimvale
import "main"

// One finding: its checkbox (or "In the Cleanup List" once staged), name, size, path with "~",
// safety badge, reason, caution, and a button that shows it in the file manager.
RowLayout {
    id: row
    property var finding: ({})
    signal toggled()

    spacing: Theme.spacing

    Item {
        Layout.preferredWidth: 28
        Layout.alignment: Qt.AlignTop
        implicitHeight: box.implicitHeight
        CheckBox {
            id: box
            objectName: "findingCheck"
            visible: !row.finding.staged
            checked: row.finding.checked === true
            Accessible.name: row.finding.name
            onToggled: row.toggled()
        }
    }
    ColumnLayout {
        Layout.fillWidth: true
        spacing: 2
        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.spacing
            Label {
                objectName: "findingName"
                Layout.fillWidth: true
                text: row.finding.name || ""
                color: Theme.text
                elide: Text.ElideMiddle
                ToolTip.visible: nameArea.containsMouse && truncated
                ToolTip.text: text
                MouseArea { id: nameArea; anchors.fill: parent; hoverEnabled: true; acceptedButtons: Qt.NoButton }
            }
            SafetyBadge { safety: row.finding.safety || 0 }
            Label {
                objectName: "findingSize"
                text: row.finding.sizeText || ""
                color: Theme.text
                font.weight: Font.DemiBold
            }
        }
        Label {
            objectName: "findingPath"
            Layout.fillWidth: true
            text: row.finding.displayPath || ""
            color: Theme.tertiaryText
            font.pixelSize: 12
            elide: Text.ElideMiddle
            ToolTip.visible: pathArea.containsMouse && truncated
            ToolTip.text: text
            MouseArea { id: pathArea; anchors.fill: parent; hoverEnabled: true; acceptedButtons: Qt.NoButton }
        }
        Label {
            Layout.fillWidth: true
            text: row.finding.reason || ""
            color: Theme.secondaryText
            font.pixelSize: 12
            wrapMode: Text.Wrap
        }
        RowLayout {
            visible: (row.finding.caution || "") !== ""
            Layout.fillWidth: true
            spacing: Theme.spacing / 2
            Symbol { name: "exclamationmark.triangle.fill"; size: 14; tint: Theme.orange }
            Label {
                objectName: "findingCaution"
                Layout.fillWidth: true
                text: row.finding.caution || ""
                color: Theme.orange
                font.pixelSize: 12
                wrapMode: Text.Wrap
            }
        }
        Label {
            objectName: "findingStaged"
            visible: row.finding.staged === true
            text: "In the Cleanup List"
            color: Theme.accent
            font.pixelSize: 12
        }
    }
    // Needs the row's place (the path shown may not be the exact bytes).
    property int categoryIndex: -1
    property int findingIndex: -1
    ToolButton {
        objectName: "revealButton"
        Layout.alignment: Qt.AlignTop
        visible: typeof desktop !== "undefined"
        icon.source: "image://icons/symbol/magnifyingglass/" + Theme.secondaryText.toString().substring(1)
        ToolTip.visible: hovered
        ToolTip.text: "Show in File Manager"
        Accessible.name: "Show in File Manager"
        onClicked: desktop.revealFinding(row.categoryIndex, row.findingIndex)
    }
}
