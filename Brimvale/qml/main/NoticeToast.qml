import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Brimvale

// The model's notice, until its clock clears it.
Rectangle {
    id: toast
    readonly property var notice: appModel.notice
    readonly property bool shown: notice !== undefined && notice !== null
    readonly property string text: shown ? notice.text : ""

    visible: shown
    width: Math.min(row.implicitWidth + 2 * Theme.spacing * 2, (parent ? parent.width : 600) - 48)
    height: row.implicitHeight + Theme.spacing * 2
    radius: Theme.radius
    color: Theme.surface
    border.color: shown && notice.isWarning ? Theme.orange : Theme.separator
    z: 5
    Accessible.role: Accessible.AlertMessage
    Accessible.name: text

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.margins: Theme.spacing
        anchors.leftMargin: Theme.spacing * 2
        anchors.rightMargin: Theme.spacing * 2
        spacing: Theme.spacing
        Symbol {
            name: toast.shown && toast.notice.isWarning ? "hand.raised.fill" : "info.circle"
            tint: toast.shown && toast.notice.isWarning ? Theme.orange : Theme.accent
        }
        Label {
            objectName: "noticeText"
            Layout.fillWidth: true
            Layout.maximumWidth: 560
            text: toast.text
            color: Theme.text
            wrapMode: Text.WordWrap
        }
    }
}
