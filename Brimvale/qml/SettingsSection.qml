import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Brimvale

// A titled group of settings on a raised surface; its children stack inside.
ColumnLayout {
    id: section
    property string title
    default property alias content: rows.data

    Layout.fillWidth: true
    spacing: Theme.spacing

    Label {
        objectName: "sectionTitle"
        text: section.title
        color: Theme.text
        font.weight: Font.DemiBold
        Accessible.role: Accessible.Heading
    }
    Rectangle {
        Layout.fillWidth: true
        implicitHeight: rows.implicitHeight + 2 * Theme.spacing * 1.5
        radius: Theme.radius
        color: Theme.surface
        border.color: Theme.separator
        ColumnLayout {
            id: rows
            anchors.fill: parent
            anchors.margins: Theme.spacing * 1.5
            spacing: Theme.spacing
        }
    }
}
