import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Brimvale
import "main"

// One suggestion category: its symbol, title, blurb, total and ticked count; opened, its first
// findings (the model lists at most 200) and how many more there are.
Rectangle {
    id: card
    property int categoryIndex: -1
    property bool open: false
    signal toggleRequested()

    implicitHeight: content.implicitHeight + 2 * Theme.spacing * 1.5
    radius: Theme.radius
    color: Theme.surface
    border.color: Theme.separator
    Accessible.role: Accessible.Grouping
    Accessible.name: title

    ColumnLayout {
        id: content
        anchors.fill: parent
        anchors.margins: Theme.spacing * 1.5
        spacing: Theme.spacing

        ItemDelegate {
            id: cardHeader
            objectName: "cardHeader"
            Layout.fillWidth: true
            padding: 0
            background: Item {}
            Accessible.name: title + ", " + appModel.formatBytes(total) + ", " + checkedCount + " of " + findingCount + " ticked"
            Accessible.role: Accessible.Button
            onClicked: card.toggleRequested()

            contentItem: RowLayout {
                spacing: Theme.spacing * 1.5
                Symbol {
                    name: symbol
                    size: 24
                    tint: Theme.accent
                    Layout.alignment: Qt.AlignTop
                }
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 2
                    Label {
                        objectName: "cardTitle"
                        Layout.fillWidth: true
                        text: title
                        color: Theme.text
                        font.weight: Font.DemiBold
                        elide: Text.ElideRight
                    }
                    Label {
                        Layout.fillWidth: true
                        text: blurb
                        color: Theme.secondaryText
                        wrapMode: Text.Wrap
                        maximumLineCount: 2
                        elide: Text.ElideRight
                    }
                }
                ColumnLayout {
                    spacing: 2
                    Layout.alignment: Qt.AlignTop
                    Label {
                        Layout.alignment: Qt.AlignRight
                        text: appModel.formatBytes(total)
                        color: Theme.text
                        font.weight: Font.DemiBold
                    }
                    Label {
                        objectName: "cardTicked"
                        Layout.alignment: Qt.AlignRight
                        text: checkedCount + " of " + findingCount + " ticked"
                        color: Theme.secondaryText
                        font.pixelSize: 12
                    }
                }
                ToolButton {
                    objectName: "cardDisclosure"
                    Layout.alignment: Qt.AlignTop
                    icon.source: "image://icons/symbol/chevron.right/" + Theme.secondaryText.toString().substring(1)
                    rotation: card.open ? 90 : 0
                    Accessible.name: card.open ? "Collapse" : "Expand"
                    onClicked: card.toggleRequested()
                    Behavior on rotation { NumberAnimation { duration: 120 } }
                }
            }
        }

        Rectangle {
            Layout.fillWidth: true
            visible: card.open
            height: 1
            color: Theme.separator
        }
        Repeater {
            model: card.open ? findings : []
            delegate: FindingRow {
                Layout.fillWidth: true
                finding: modelData
                categoryIndex: card.categoryIndex
                findingIndex: index
                onToggled: appModel.toggleFindingAt(card.categoryIndex, index)
            }
        }
        Label {
            objectName: "moreLine"
            visible: card.open && moreCount > 0
            Layout.leftMargin: Theme.spacing * 4
            text: "…and " + moreCount + " more"
            color: Theme.secondaryText
        }
    }
}
