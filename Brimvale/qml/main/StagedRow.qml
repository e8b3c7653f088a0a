import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Brimvale

// One staged item: icon, name, size, the guard's caution if any, and the way out of the list.
Rectangle {
    id: row
    required property var itemId
    required property string name
    required property string path
    required property string sizeText
    required property string caution
    property bool current: false

    height: Theme.rowHeight
    color: current ? Theme.selection : "transparent"
    Accessible.role: Accessible.ListItem
    Accessible.name: name + ", " + sizeText + (caution !== "" ? ", " + caution : "")

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: Theme.spacing * 1.5
        anchors.rightMargin: Theme.spacing
        spacing: 6
        Image {
            Layout.preferredWidth: 16
            Layout.preferredHeight: 16
            sourceSize: Qt.size(32, 32)
            source: "image://icons/item/f/" + encodeURIComponent(row.name) + "/"
                    + Theme.secondaryText.toString().substring(1)
        }
        ElidedLabel {
            Layout.fillWidth: true
            Layout.preferredWidth: 2
            text: row.name
            ToolTip.text: row.path
        }
        Symbol {
            visible: row.caution !== ""
            name: "exclamationmark.triangle.fill"
            tint: Theme.orange
        }
        ElidedLabel {
            visible: row.caution !== ""
            Layout.fillWidth: true
            Layout.preferredWidth: 3
            text: row.caution
            color: Theme.orange
        }
        Label {
            text: row.sizeText
            color: Theme.secondaryText
        }
        IconButton {
            objectName: "unstageButton"
            symbol: "xmark.circle.fill"
            help: "Remove from the Cleanup List"
            focusPolicy: Qt.NoFocus
            onClicked: appModel.unstage(row.itemId)
        }
    }
}
