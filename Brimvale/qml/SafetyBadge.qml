import QtQuick
import QtQuick.Controls
import Brimvale

// A finding's safety: its label in a small semibold caption on its colour at 15 % opacity.
Rectangle {
    id: badge
    property int safety: 0  // 0 safe, 1 review, 2 caution (the engine's raw values)

    readonly property color tint: safety === 0 ? Theme.accent : safety === 1 ? Theme.blue : Theme.orange
    readonly property string label: safety === 0 ? "Safe" : safety === 1 ? "Review" : "Caution"

    implicitWidth: caption.implicitWidth + 12
    implicitHeight: caption.implicitHeight + 4
    radius: height / 2
    color: Qt.rgba(tint.r, tint.g, tint.b, 0.15)
    Accessible.role: Accessible.StaticText
    Accessible.name: label

    Label {
        id: caption
        objectName: "safetyLabel"
        anchors.centerIn: parent
        text: badge.label
        color: badge.tint
        font.pixelSize: 11
        font.weight: Font.DemiBold
    }
}
