import QtQuick
import QtQuick.Window
import QtQuick.Controls
import QtQuick.Layouts
import Brimvale

// The tray item's popover: free space and fullness, the fill estimate, the sparkline, what grew
// this week and the way into the app. A frameless window that closes when it loses focus; the
// tray places it.
Window {
    id: popover
    objectName: "tideWatchPopover"
    title: "Space Watch"
    flags: Qt.Tool | Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint
    width: 320
    height: column.implicitHeight + 2 * padding
    color: Theme.surface
    readonly property int padding: 14

    onActiveChanged: if (!active) popover.hide()

    Shortcut {
        sequence: "Escape"
        onActivated: popover.hide()
    }

    TideWatchView {
        id: watch
        objectName: "tideWatch"
        model: appModel
    }

    Rectangle {
        anchors.fill: parent
        color: "transparent"
        border.color: Theme.separator
        border.width: 1
    }

    ColumnLayout {
        id: column
        x: popover.padding
        y: popover.padding
        width: popover.width - 2 * popover.padding
        spacing: 6

        RowLayout {
            visible: watch.hasVolume
            spacing: 6
            Text {
                objectName: "freeText"
                text: watch.freeText
                color: Theme.text
                font.pixelSize: 22
                font.weight: Font.DemiBold
                Layout.alignment: Qt.AlignBaseline
            }
            Text {
                text: "free"
                color: Theme.secondaryText
                font.pixelSize: 13
                Layout.alignment: Qt.AlignBaseline
            }
            Item {
                Layout.fillWidth: true
            }
            Text {
                objectName: "percentText"
                text: watch.percent + "% full"
                color: Theme.text
                font.pixelSize: 13
                Layout.alignment: Qt.AlignBaseline
            }
        }

        Rectangle {
            objectName: "usageBar"
            visible: watch.hasVolume
            Layout.fillWidth: true
            implicitHeight: 6
            radius: 3
            color: Theme.separator
            readonly property color tint: watch.nearlyFull ? Theme.orange : Theme.accent
            Rectangle {
                width: parent.width * watch.fullness
                height: parent.height
                radius: parent.radius
                color: parent.tint
            }
        }

        Text {
            objectName: "forecast"
            visible: watch.hasVolume && text !== ""
            text: watch.forecastText
            color: watch.forecastWarning ? Theme.orange : Theme.secondaryText
            font.pixelSize: 11
            Layout.fillWidth: true
            wrapMode: Text.Wrap
        }

        UsageSparkline {
            objectName: "sparkline"
            Layout.fillWidth: true
            Layout.preferredHeight: 44
            Layout.topMargin: 4
            points: watch.sparklinePoints
            low: watch.sparklineLow
            high: watch.sparklineHigh
        }

        Text {
            text: "Grew this week"
            color: Theme.text
            font.pixelSize: 13
            font.weight: Font.DemiBold
            Layout.topMargin: 6
        }

        Repeater {
            objectName: "popoverGrowth"
            model: watch.popoverGrowth
            delegate: Item {
                id: row
                required property var modelData
                Layout.fillWidth: true
                implicitHeight: 20
                RowLayout {
                    anchors.fill: parent
                    Text {
                        text: row.modelData.name
                        color: Theme.text
                        font.pixelSize: 12
                        elide: Text.ElideMiddle
                        Layout.fillWidth: true
                    }
                    Text {
                        text: row.modelData.growthText
                        color: Theme.secondaryText
                        font.pixelSize: 12
                    }
                }
                HoverHandler {
                    id: hover
                }
                ToolTip.visible: hover.hovered
                ToolTip.delay: 600
                ToolTip.text: row.modelData.path
            }
        }

        Text {
            objectName: "popoverGrowthEmpty"
            visible: watch.popoverGrowth.length === 0
            text: watch.popoverGrowthEmpty
            color: Theme.secondaryText
            font.pixelSize: 12
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.topMargin: 6
            implicitHeight: 1
            color: Theme.separator
        }

        RowLayout {
            spacing: 2
            Layout.fillWidth: true
            PopoverButton {
                objectName: "openButton"
                text: "Open Brimvale"
                onClicked: watch.openMain()
            }
            PopoverButton {
                objectName: "suggestionsButton"
                text: "Suggestions"
                onClicked: watch.openSuggestions()
            }
            Item {
                Layout.fillWidth: true
            }
            PopoverButton {
                objectName: "quitButton"
                Accessible.name: "Quit Brimvale"
                ToolTip.visible: hovered
                ToolTip.delay: 600
                ToolTip.text: "Quit Brimvale"
                onClicked: watch.quit()
                contentItem: Item {
                    implicitWidth: 16
                    implicitHeight: 16
                    PowerSymbol {
                        anchors.centerIn: parent
                        width: 15
                        height: 15
                        color: Theme.secondaryText
                    }
                }
            }
        }
    }
}
