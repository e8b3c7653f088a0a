import QtQuick
import Brimvale

// The popover's sparkline of used space over the newest summaries (TideWatchView decides the
// points and the y domain), or its first-day text.
Item {
    id: root
    property var points: []
    property real low: 0
    property real high: 1
    readonly property bool ready: points.length >= 2
    implicitHeight: 44
    implicitWidth: 240

    SparklinePlot {
        objectName: "sparklinePlot"
        anchors.fill: parent
        visible: root.ready
        points: root.points
        low: root.low
        high: root.high
        color: Theme.accent
    }
    Text {
        objectName: "sparklineEmpty"
        anchors.verticalCenter: parent.verticalCenter
        visible: !root.ready
        text: "Usage history starts today"
        color: Theme.secondaryText
        font.pixelSize: 11
    }
}
