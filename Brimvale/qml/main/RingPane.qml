import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Brimvale
import ".."

// The ring with its centre label, what the hovered arc is, and how to use it.
Item {
    id: pane
    readonly property alias ringView: ringView
    readonly property alias centreTitle: centreTitle
    readonly property alias centreDetail: centreDetail

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Theme.spacing
        spacing: Theme.spacing / 2

        Item {
            id: ringArea
            Layout.fillWidth: true
            Layout.fillHeight: true

            RingView {
                id: ringView
                anchors.fill: parent
                model: appModel
                dark: Theme.dark
                reducedMotion: typeof appearance !== "undefined" && appearance !== null
                               && appearance.reducedMotion
            }

            Column {
                id: centre
                anchors.centerIn: parent
                width: Math.min(ringArea.width, ringArea.height) * 0.19
                spacing: 2
                Accessible.role: Accessible.StaticText
                Accessible.name: [centreTitle.text, centreDetail.text, centreFree.text]
                                 .filter(t => t !== "").join(", ")
                ElidedLabel {
                    id: centreTitle
                    objectName: "centreTitle"
                    width: parent.width
                    horizontalAlignment: Text.AlignHCenter
                    text: texts.centreTitle
                    font.weight: Font.DemiBold
                }
                Label {
                    id: centreDetail
                    objectName: "centreDetail"
                    width: parent.width
                    horizontalAlignment: Text.AlignHCenter
                    text: texts.centreDetail
                    color: Theme.text
                    font.pixelSize: Math.max(12, Math.min(18, parent.width / 6))
                    fontSizeMode: Text.HorizontalFit
                    minimumPixelSize: 10
                }
                Label {
                    id: centreFree
                    objectName: "centreFree"
                    width: parent.width
                    visible: text !== ""
                    horizontalAlignment: Text.AlignHCenter
                    text: texts.centreFree
                    color: Theme.secondaryText
                    fontSizeMode: Text.HorizontalFit
                    minimumPixelSize: 9
                }
            }

            // What the pointer (or the list's keyboard row) is on; read out as it changes.
            Rectangle {
                id: hoverInfo
                objectName: "hoverInfo"
                visible: texts.hoverLabel !== ""
                anchors.left: parent.left
                anchors.top: parent.top
                width: Math.min(hoverColumn.implicitWidth + 2 * Theme.spacing, parent.width)
                height: hoverColumn.implicitHeight + Theme.spacing
                radius: Theme.radius
                color: Theme.surface
                border.color: Theme.separator
                Accessible.role: Accessible.StaticText
                Accessible.name: texts.hoverLabel + ", " + texts.hoverSize
                                 + (texts.hoverShare !== "" ? ", " + texts.hoverShare : "")
                Column {
                    id: hoverColumn
                    x: Theme.spacing
                    y: Theme.spacing / 2
                    width: Math.min(implicitWidth, pane.width * 0.6)
                    ElidedLabel {
                        objectName: "hoverLabel"
                        width: Math.min(implicitWidth, pane.width * 0.6)
                        text: texts.hoverLabel
                        font.weight: Font.DemiBold
                    }
                    Label {
                        objectName: "hoverDetail"
                        text: texts.hoverSize + (texts.hoverShare !== "" ? "  ·  " + texts.hoverShare : "")
                        color: Theme.secondaryText
                    }
                }
            }

            Label {
                objectName: "catchingUp"
                visible: texts.catchingUp
                anchors.horizontalCenter: parent.horizontalCenter
                anchors.top: parent.top
                text: "Catching up on changes…"
                color: Theme.secondaryText
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                BusyIndicator {
                    anchors.right: parent.left
                    anchors.verticalCenter: parent.verticalCenter
                    width: 20
                    height: 20
                    running: parent.visible
                }
            }
        }

        Label {
            objectName: "ringHint"
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            text: "Click a slice to open it · click the centre to go up · right-click to add to the Cleanup List"
            color: Theme.tertiaryText
            font.pixelSize: 11
            wrapMode: Text.WordWrap
        }
    }
}
