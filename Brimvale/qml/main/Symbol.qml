import QtQuick
import Brimvale

// One of the design's symbols in one colour, from the icon theme or the bundled pictures.
Image {
    property string name: ""
    property color tint: Theme.secondaryText
    property int size: 16

    width: size
    height: size
    sourceSize: Qt.size(size * 2, size * 2)
    fillMode: Image.PreserveAspectFit
    smooth: true
    source: name === "" ? ""
        : "image://icons/symbol/" + encodeURIComponent(name) + "/" + tint.toString().substring(1)
    Accessible.ignored: true
}
