import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtCharts
import Brimvale

// The History section: since when Space Watch records and where the trend leads, used space per
// day against the capacity, and which folders grew in the chosen window. Everything shown comes
// from TideWatchView; the window choice starts at a week each time the section is built.
Item {
    id: root
    objectName: "historyView"
    implicitWidth: 900
    implicitHeight: 700

    TideWatchView {
        id: watch
        objectName: "tideWatch"
        model: appModel
    }

    readonly property color accentArea: Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.2)
    readonly property color accentBar: Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.7)

    ScrollView {
        id: scroll
        anchors.fill: parent
        contentWidth: availableWidth
        clip: true

        ColumnLayout {
            width: scroll.availableWidth - 40
            x: 20
            spacing: 18

            Item {
                implicitHeight: 2
            }

            ColumnLayout {
                spacing: 4
                Layout.fillWidth: true
                Text {
                    text: "History"
                    color: Theme.text
                    font.pixelSize: 24
                    font.weight: Font.DemiBold
                }
                Text {
                    objectName: "subtitle"
                    text: watch.subtitle
                    color: Theme.secondaryText
                    font.pixelSize: 13
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                }
            }

            ChartView {
                id: chart
                objectName: "usageChart"
                visible: watch.hasChart
                Layout.fillWidth: true
                Layout.preferredHeight: 220
                antialiasing: true
                legend.visible: false
                backgroundColor: "transparent"
                plotAreaColor: "transparent"
                backgroundRoundness: 0
                margins.left: 0
                margins.right: 0
                margins.top: 0
                margins.bottom: 0
                readonly property int usedCount: usedLine.count
                readonly property int capacityCount: capacity.count
                readonly property bool capacityShown: capacity.visible

                DateTimeAxis {
                    id: days
                    min: watch.chartFirst
                    max: watch.chartLast
                    format: watch.axisDateFormat
                    tickCount: 5
                    labelsColor: Theme.secondaryText
                    gridLineColor: Theme.separator
                    lineVisible: false
                    labelsFont.pixelSize: 11
                }
                ValueAxis {
                    id: used
                    min: 0
                    max: watch.chartAxisMax
                    tickCount: watch.chartAxisTicks
                    titleText: "GB used"
                    titleBrush: Theme.secondaryText
                    titleFont.pixelSize: 11
                    labelFormat: "%.0f"
                    labelsColor: Theme.secondaryText
                    gridLineColor: Theme.separator
                    lineVisible: false
                    labelsFont.pixelSize: 11
                }
                AreaSeries {
                    objectName: "usageArea"
                    axisX: days
                    axisY: used
                    color: root.accentArea
                    borderColor: Theme.accent
                    borderWidth: 2
                    upperSeries: LineSeries {
                        id: usedLine
                        objectName: "usageLine"
                    }
                }
                LineSeries {
                    id: capacity
                    objectName: "capacityRule"
                    axisX: days
                    axisY: used
                    visible: watch.hasCapacity
                    color: Theme.secondaryText
                    width: 1
                    style: Qt.DashLine
                }
                VXYModelMapper {
                    model: watch.chartModel
                    series: usedLine
                    xColumn: 0
                    yColumn: 1
                }
                Connections {
                    target: watch
                    function onChanged() { chart.placeCapacity() }
                }
                Component.onCompleted: placeCapacity()
                function placeCapacity() {
                    capacity.clear()
                    if (!watch.hasCapacity)
                        return
                    capacity.append(watch.chartFirst.getTime(), watch.capacity)
                    capacity.append(watch.chartLast.getTime(), watch.capacity)
                }
            }

            Rectangle {
                objectName: "chartEmpty"
                visible: !watch.hasChart
                Layout.fillWidth: true
                Layout.preferredHeight: 220
                radius: Theme.radius
                color: Theme.surface
                border.color: Theme.separator
                ColumnLayout {
                    anchors.centerIn: parent
                    width: Math.min(parent.width - 40, 440)
                    spacing: 8
                    TrendSymbol {
                        Layout.alignment: Qt.AlignHCenter
                        width: 36
                        height: 28
                        color: Theme.tertiaryText
                    }
                    Text {
                        text: "History builds up day by day"
                        color: Theme.text
                        font.pixelSize: 15
                        font.weight: Font.DemiBold
                        Layout.alignment: Qt.AlignHCenter
                    }
                    Text {
                        text: "Brimvale saves a small summary each day it runs. Keep Space Watch in the system tray and this fills in."
                        color: Theme.secondaryText
                        font.pixelSize: 12
                        wrapMode: Text.Wrap
                        horizontalAlignment: Text.AlignHCenter
                        Layout.fillWidth: true
                    }
                }
            }

            RowLayout {
                spacing: 10
                Text {
                    text: "Window"
                    color: Theme.text
                    font.pixelSize: 13
                }
                Row {
                    id: picker
                    objectName: "windowPicker"
                    Layout.maximumWidth: 420
                    readonly property var choices: [[1, "Last day"], [7, "Last week"], [30, "Last month"], [90, "Last 3 months"]]
                    Repeater {
                        model: picker.choices
                        delegate: AbstractButton {
                            id: segment
                            required property var modelData
                            required property int index
                            readonly property bool chosen: watch.window === modelData[0]
                            objectName: "window" + modelData[0]
                            text: modelData[1]
                            width: 105
                            height: 26
                            onClicked: watch.window = modelData[0]
                            contentItem: Text {
                                text: segment.text
                                color: segment.chosen ? Theme.accentText : Theme.text
                                font.pixelSize: 12
                                horizontalAlignment: Text.AlignHCenter
                                verticalAlignment: Text.AlignVCenter
                            }
                            background: Rectangle {
                                color: segment.chosen ? Theme.accent : segment.hovered ? Theme.hover : Theme.surface
                                border.color: Theme.separator
                                radius: 0
                            }
                        }
                    }
                }
            }

            ColumnLayout {
                spacing: 6
                Layout.fillWidth: true
                Text {
                    text: "What grew"
                    color: Theme.text
                    font.pixelSize: 15
                    font.weight: Font.DemiBold
                }
                Repeater {
                    objectName: "historyGrowth"
                    model: watch.historyGrowth
                    delegate: RowLayout {
                        id: row
                        required property var modelData
                        Layout.fillWidth: true
                        spacing: 12
                        ColumnLayout {
                            spacing: 1
                            Layout.preferredWidth: 300
                            Layout.maximumWidth: 300
                            Text {
                                text: row.modelData.name
                                color: Theme.text
                                font.pixelSize: 13
                                elide: Text.ElideMiddle
                                Layout.fillWidth: true
                            }
                            Text {
                                text: row.modelData.displayPath
                                color: Theme.tertiaryText
                                font.pixelSize: 11
                                elide: Text.ElideMiddle
                                Layout.fillWidth: true
                            }
                        }
                        Item {
                            id: barArea
                            Layout.fillWidth: true
                            implicitHeight: 8
                            Rectangle {
                                objectName: "growthBar"
                                width: Math.max(2, barArea.width * row.modelData.fraction)
                                height: parent.height
                                radius: height / 2
                                color: root.accentBar
                            }
                        }
                        Text {
                            text: row.modelData.growthText
                            color: Theme.secondaryText
                            font.pixelSize: 12
                            horizontalAlignment: Text.AlignRight
                            Layout.preferredWidth: 80
                        }
                        ToolButton {
                            objectName: "revealButton"
                            Accessible.name: "Show in File Manager"
                            ToolTip.visible: hovered
                            ToolTip.delay: 600
                            ToolTip.text: "Show in File Manager"
                            onClicked: watch.showInFileManager(row.modelData.path)
                            implicitWidth: 28
                            implicitHeight: 28
                            contentItem: Item {
                                MagnifierSymbol {
                                    anchors.centerIn: parent
                                    width: 14
                                    height: 14
                                    color: Theme.secondaryText
                                }
                            }
                        }
                    }
                }
                Text {
                    objectName: "historyGrowthEmpty"
                    visible: watch.historyGrowth.length === 0
                    text: watch.historyGrowthEmpty
                    color: Theme.secondaryText
                    font.pixelSize: 12
                }
            }

            Item {
                implicitHeight: 2
            }
        }
    }
}
