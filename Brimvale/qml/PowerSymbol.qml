import QtQuick
import QtQuick.Shapes

// The power symbol (a broken ring with a bar through its gap), drawn in `color`.
Shape {
    id: root
    property color color: "black"
    implicitWidth: 16
    implicitHeight: 16
    antialiasing: true
    layer.enabled: true
    layer.samples: 4

    ShapePath {
        strokeColor: root.color
        strokeWidth: root.width / 9
        fillColor: "transparent"
        capStyle: ShapePath.RoundCap
        PathAngleArc {
            centerX: root.width / 2
            centerY: root.height / 2 + root.height / 24
            radiusX: root.width * 0.36
            radiusY: root.height * 0.36
            startAngle: -60
            sweepAngle: 300
        }
    }
    ShapePath {
        strokeColor: root.color
        strokeWidth: root.width / 9
        fillColor: "transparent"
        capStyle: ShapePath.RoundCap
        startX: root.width / 2
        startY: root.height * 0.1
        PathLine {
            x: root.width / 2
            y: root.height * 0.5
        }
    }
}
