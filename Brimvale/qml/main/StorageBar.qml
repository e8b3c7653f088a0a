import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Brimvale

// The startup disk by kind of content, and under it what Brimvale has freed.
ColumnLayout {
    id: bar
    spacing: 4
    readonly property var summary: appModel.storage
    readonly property alias savings: savings

    Rectangle { Layout.fillWidth: true; height: 1; color: Theme.separator }

    RowLayout {
        Layout.fillWidth: true
        Layout.leftMargin: Theme.spacing
        Layout.rightMargin: Theme.spacing
        Layout.topMargin: 4
        visible: bar.summary !== undefined && bar.summary !== null
        Label {
            objectName: "storageName"
            text: texts.storageName
            color: Theme.text
            font.weight: Font.DemiBold
        }
        ElidedLabel {
            objectName: "storageUsage"
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignRight
            text: texts.storageUsage
            color: Theme.secondaryText
        }
    }

    // The slices in their colours; what is left of the bar is available space.
    Rectangle {
        id: track
        objectName: "storageBar"
        Layout.fillWidth: true
        Layout.leftMargin: Theme.spacing
        Layout.rightMargin: Theme.spacing
        height: 10
        radius: 5
        color: Theme.hover
        clip: true
        visible: bar.summary !== undefined && bar.summary !== null
        Accessible.role: Accessible.Chart
        Accessible.name: texts.storageUsage

        Row {
            anchors.fill: parent
            Repeater {
                model: bar.summary ? bar.summary.slices : []
                delegate: Rectangle {
                    required property var modelData
                    height: track.height
                    width: bar.summary && bar.summary.total > 0
                           ? track.width * modelData.bytes / bar.summary.total : 0
                    color: Theme.dark ? modelData.darkColor : modelData.color
                    Accessible.role: Accessible.StaticText
                    Accessible.name: modelData.title + ", " + appModel.formatBytes(modelData.bytes)
                    HoverHandler { id: sliceHover }
                    ToolTip.visible: sliceHover.hovered
                    ToolTip.text: modelData.title + ": " + appModel.formatBytes(modelData.bytes)
                }
            }
        }
    }

    SavingsLine {
        id: savings
        objectName: "savingsLine"
        Layout.fillWidth: true
        Layout.leftMargin: Theme.spacing
        Layout.rightMargin: Theme.spacing
        Layout.bottomMargin: 4
    }
}
