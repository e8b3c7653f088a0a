import QtQuick
import QtQuick.Shapes

// A rising line over two axes: the empty History chart's picture.
Shape {
    id: root
    property color color: "gray"
    antialiasing: true
    layer.enabled: true
    layer.samples: 4

    ShapePath {
        strokeColor: root.color
        strokeWidth: 2
        fillColor: "transparent"
        capStyle: ShapePath.RoundCap
        joinStyle: ShapePath.RoundJoin
        startX: 1
        startY: 1
        PathLine { x: 1; y: root.height - 1 }
        PathLine { x: root.width - 1; y: root.height - 1 }
    }
    ShapePath {
        strokeColor: root.color
        strokeWidth: 2
        fillColor: "transparent"
        capStyle: ShapePath.RoundCap
        joinStyle: ShapePath.RoundJoin
        startX: 6
        startY: root.height - 7
        PathLine { x: root.width * 0.4; y: root.height * 0.5 }
        PathLine { x: root.width * 0.62; y: root.height * 0.66 }
        PathLine { x: root.width - 3; y: 4 }
    }
}
