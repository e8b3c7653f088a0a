import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Brimvale

// An alert that asks once more before something that cannot be undone: a title, a message,
// "Cancel" and a destructive button. Escape cancels.
Dialog {
    id: dialog
    property string message: ""
    property string detail: ""
    property string confirmText: "Delete Permanently"
    signal confirmed()

    modal: true
    anchors.centerIn: Overlay.overlay
    width: Math.min(440, (parent ? parent.width : 440) - 40)
    closePolicy: Popup.CloseOnEscape

    background: Rectangle {
        color: Theme.surface
        radius: Theme.radius
        border.color: Theme.separator
    }
    header: Label {
        text: dialog.title
        padding: 16
        bottomPadding: 0
        font.weight: Font.DemiBold
        font.pixelSize: 15
        color: Theme.text
        wrapMode: Text.WordWrap
    }
    contentItem: ColumnLayout {
        spacing: Theme.spacing
        Accessible.role: Accessible.AlertMessage
        Accessible.name: dialog.title
        Label {
            objectName: "confirmMessage"
            Layout.fillWidth: true
            text: dialog.message
            color: Theme.text
            wrapMode: Text.WordWrap
        }
        Label {
            Layout.fillWidth: true
            visible: text !== ""
            text: dialog.detail
            color: Theme.secondaryText
            wrapMode: Text.WordWrap
        }
    }
    footer: DialogButtonBox {
        background: null
        Button {
            text: "Cancel"
            DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
        }
        Button {
            objectName: "confirmButton"
            text: dialog.confirmText
            DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
            palette.buttonText: Theme.red
        }
    }
    onAccepted: confirmed()
}
