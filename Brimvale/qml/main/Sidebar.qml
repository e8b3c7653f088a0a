import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Brimvale

// The three sections; the Suggestions row carries what is safe to remove. Arrow keys move
// between the rows, and the row under the keyboard is the section on screen.
Rectangle {
    id: sidebar
    color: Theme.sidebar
    readonly property alias list: rows

    readonly property var sections: [
        { section: Brimvale.AppSection.explorer, title: "Explorer", symbol: "circle.circle" },
        { section: Brimvale.AppSection.shoreline, title: "Suggestions", symbol: "sparkles" },
        { section: Brimvale.AppSection.history, title: "History", symbol: "chart.line.uptrend.xyaxis" }
    ]

    ListView {
        id: rows
        objectName: "sidebarList"
        anchors.fill: parent
        anchors.margins: Theme.spacing
        anchors.topMargin: Theme.spacing * 2
        spacing: 2
        interactive: false
        model: sidebar.sections
        currentIndex: appModel.section
        keyNavigationEnabled: true
        activeFocusOnTab: true
        highlightFollowsCurrentItem: false
        Accessible.role: Accessible.List
        Accessible.name: "Sections"
        onCurrentIndexChanged: if (activeFocus) appModel.section = sidebar.sections[currentIndex].section

        delegate: ItemDelegate {
            id: row
            required property var modelData
            required property int index
            readonly property bool current: appModel.section === modelData.section
            width: ListView.view.width
            height: Theme.rowHeight
            text: modelData.title
            focusPolicy: Qt.NoFocus
            Accessible.role: Accessible.ListItem
            Accessible.name: modelData.title
                + (index === 1 && appModel.shorelineSafeBytes > 0
                   ? ", " + appModel.formatBytes(appModel.shorelineSafeBytes) : "")
            Accessible.selected: current
            onClicked: appModel.section = modelData.section

            background: Rectangle {
                radius: Theme.radius / 2
                color: row.current ? Theme.selection : (row.hovered ? Theme.hover : "transparent")
                border.width: rows.activeFocus && row.current ? 2 : 0
                border.color: Theme.accent
            }
            contentItem: RowLayout {
                spacing: Theme.spacing
                Symbol {
                    name: row.modelData.symbol
                    tint: row.current ? Theme.accent : Theme.secondaryText
                }
                Label {
                    Layout.fillWidth: true
                    text: row.modelData.title
                    color: Theme.text
                    elide: Text.ElideRight
                    font.weight: row.current ? Font.DemiBold : Font.Normal
                }
                Rectangle {
                    objectName: "suggestionsBadge"
                    visible: row.index === 1 && appModel.shorelineSafeBytes > 0
                    radius: height / 2
                    color: Theme.green
                    implicitHeight: badge.implicitHeight + 4
                    implicitWidth: badge.implicitWidth + 10
                    Label {
                        id: badge
                        anchors.centerIn: parent
                        text: appModel.formatBytes(appModel.shorelineSafeBytes)
                        color: "#ffffff"
                        font.pixelSize: 11
                        font.weight: Font.DemiBold
                    }
                }
            }
        }
    }
}
