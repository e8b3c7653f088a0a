import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Brimvale

// The review of the Cleanup List before anything is removed, and then what happened. Escape
// closes it (while nothing is being removed).
Popup {
    id: sheet
    objectName: "reviewSheet"
    // The outcome once the model answered; while null the sheet is in its review state.
    property var result: null
    property bool cautionsRead: false
    readonly property bool reviewing: result === null
    readonly property alias deleteDialog: deleteDialog

    function openReview() {
        result = null
        cautionsRead = false
        open()
    }

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(560, parent.width - 40)
    height: Math.min(implicitHeight, parent.height - 40)
    modal: true
    focus: true
    padding: 20
    closePolicy: appModel.removing ? Popup.NoAutoClose : Popup.CloseOnEscape

    background: Rectangle {
        color: Theme.surface
        radius: Theme.radius
        border.color: Theme.separator
    }

    Connections {
        target: appModel
        function onRemovalFinished(outcome) {
            if (sheet.opened) sheet.result = outcome
        }
    }

    contentItem: Flickable {
        Accessible.role: Accessible.Dialog
        Accessible.name: sheet.reviewing ? texts.reviewTitle
                                         : (sheet.result ? texts.resultTitle(sheet.result) : "")
        implicitHeight: body.implicitHeight
        contentHeight: body.implicitHeight
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {}

        ColumnLayout {
            id: body
            width: parent.width
            spacing: Theme.spacing

            // Review state.
            Label {
                objectName: "reviewTitle"
                visible: sheet.reviewing
                Layout.fillWidth: true
                text: texts.reviewTitle
                font.pixelSize: 17
                font.weight: Font.DemiBold
                color: Theme.text
                wrapMode: Text.WordWrap
            }
            Label {
                objectName: "reviewSubtitle"
                visible: sheet.reviewing
                Layout.fillWidth: true
                text: texts.reviewSubtitle
                color: Theme.secondaryText
                wrapMode: Text.WordWrap
            }
            Label {
                objectName: "spaceAfterMove"
                visible: sheet.reviewing
                Layout.fillWidth: true
                text: texts.spaceAfterMove
                color: Theme.secondaryText
                wrapMode: Text.WordWrap
            }
            Repeater {
                model: sheet.reviewing ? appModel.cleanupList : null
                delegate: RowLayout {
                    required property string name
                    required property string caution
                    visible: caution !== ""
                    Layout.fillWidth: true
                    spacing: 6
                    Symbol {
                        Layout.alignment: Qt.AlignTop
                        name: "exclamationmark.triangle.fill"
                        tint: Theme.orange
                    }
                    Label {
                        objectName: "cautionText"
                        Layout.fillWidth: true
                        text: "<b>" + name.replace(/&/g, "&amp;").replace(/</g, "&lt;") + "</b>: "
                              + caution.replace(/&/g, "&amp;").replace(/</g, "&lt;")
                        textFormat: Text.StyledText
                        color: Theme.text
                        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                    }
                }
            }
            CheckBox {
                id: readBox
                objectName: "cautionCheck"
                visible: sheet.reviewing && texts.cautionCount > 0
                Layout.fillWidth: true
                text: texts.cautionConfirm
                checked: sheet.cautionsRead
                onToggled: sheet.cautionsRead = checked
                Accessible.name: text
            }
            RowLayout {
                visible: sheet.reviewing
                Layout.fillWidth: true
                Layout.topMargin: Theme.spacing
                spacing: Theme.spacing
                readonly property bool allowed: (texts.cautionCount === 0 || sheet.cautionsRead)
                                                && texts.stagedCount > 0 && !appModel.removing
                Button {
                    objectName: "deleteImmediatelyButton"
                    text: "Delete Immediately…"
                    flat: true
                    enabled: parent.allowed
                    palette.buttonText: enabled ? Theme.red : Theme.tertiaryText
                    onClicked: deleteDialog.open()
                }
                Item { Layout.fillWidth: true }
                BusyIndicator {
                    visible: appModel.removing
                    running: visible
                    Layout.preferredWidth: 24
                    Layout.preferredHeight: 24
                }
                Button {
                    objectName: "cancelButton"
                    text: "Cancel"
                    enabled: !appModel.removing
                    onClicked: sheet.close()
                }
                PrimaryButton {
                    objectName: "moveButton"
                    text: "Move to Trash"
                    enabled: parent.allowed
                    onClicked: appModel.moveToTrash()
                }
            }
            Label {
                visible: sheet.reviewing
                Layout.fillWidth: true
                text: "Skip the Trash and delete these now. Faster than emptying the Trash, but there's no Restore."
                color: Theme.tertiaryText
                font.pixelSize: 11
                wrapMode: Text.WordWrap
            }

            // Result state.
            RowLayout {
                visible: !sheet.reviewing
                Layout.fillWidth: true
                spacing: Theme.spacing
                Symbol {
                    name: "checkmark.circle.fill"
                    tint: Theme.green
                    size: 24
                }
                Label {
                    objectName: "resultTitle"
                    Layout.fillWidth: true
                    text: sheet.result ? texts.resultTitle(sheet.result) : ""
                    font.pixelSize: 17
                    font.weight: Font.DemiBold
                    color: Theme.text
                    wrapMode: Text.WordWrap
                }
            }
            Label {
                objectName: "resultBody"
                visible: !sheet.reviewing
                Layout.fillWidth: true
                text: sheet.result ? texts.resultBody(sheet.result) : ""
                color: Theme.secondaryText
                wrapMode: Text.WordWrap
            }
            Label {
                objectName: "notMovedTitle"
                visible: !sheet.reviewing && sheet.result && sheet.result.failures.length > 0
                text: "Not moved:"
                color: Theme.text
                font.weight: Font.DemiBold
            }
            Repeater {
                model: !sheet.reviewing && sheet.result ? sheet.result.failures : []
                delegate: Label {
                    required property string modelData
                    objectName: "failureLine"
                    Layout.fillWidth: true
                    text: modelData
                    color: Theme.red
                    wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                }
            }
            RowLayout {
                visible: !sheet.reviewing
                Layout.fillWidth: true
                Layout.topMargin: Theme.spacing
                Item { Layout.fillWidth: true }
                Button {
                    text: "Open Trash"
                    onClicked: desktop.openTrash()
                }
                PrimaryButton {
                    objectName: "doneButton"
                    text: "Done"
                    onClicked: sheet.close()
                }
            }
        }
    }

    ConfirmDialog {
        id: deleteDialog
        objectName: "deleteDialog"
        parent: Overlay.overlay
        title: texts.deleteTitle
        message: texts.deleteMessage
        detail: texts.spaceAfterDelete
        onConfirmed: appModel.deleteImmediately()
    }
}
