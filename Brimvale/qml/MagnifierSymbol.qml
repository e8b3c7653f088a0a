import QtQuick
import QtQuick.Shapes

// A magnifying glass, drawn in `color`.
Shape {
    id: root
    property color color: "black"
    implicitWidth: 14
    implicitHeight: 14
    antialiasing: true
    layer.enabled: true
    layer.samples: 4

    ShapePath {
        strokeColor: root.color
        strokeWidth: root.width / 8
        fillColor: "transparent"
        capStyle: ShapePath.RoundCap
        PathAngleArc {
            centerX: root.width * 0.42
            centerY: root.height * 0.42
            radiusX: root.width * 0.3
            radiusY: root.height * 0.3
            startAngle: 0
            sweepAngle: 360
        }
    }
    ShapePath {
        strokeColor: root.color
        strokeWidth: root.width / 7
        fillColor: "transparent"
        capStyle: ShapePath.RoundCap
        startX: root.width * 0.64
        startY: root.height * 0.64
        PathLine {
            x: root.width * 0.9
            y: root.height * 0.9
        }
    }
}
