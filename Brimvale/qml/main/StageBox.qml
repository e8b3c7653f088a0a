import QtQuick
import QtQuick.Controls
import Brimvale

// The item list's tick: shows the model's stage state (ticked, inside a ticked folder, or not)
// and leaves every change to the model.
AbstractButton {
    id: box
    property int stageState: Brimvale.StageState.off
    property string help: ""
    readonly property bool ticked: stageState === Brimvale.StageState.on
    readonly property bool inside: stageState === Brimvale.StageState.insideStaged

    implicitWidth: 20
    implicitHeight: 20
    focusPolicy: Qt.NoFocus
    Accessible.role: Accessible.CheckBox
    Accessible.checkable: true
    Accessible.checked: ticked
    Accessible.name: help
    ToolTip.visible: hovered
    ToolTip.text: help
    ToolTip.delay: 500

    contentItem: Item {}
    background: Rectangle {
        anchors.centerIn: parent
        width: 16
        height: 16
        radius: 4
        color: box.ticked ? Theme.accent : box.inside ? Theme.selection : Theme.surface
        border.width: box.ticked ? 0 : 1
        border.color: box.hovered ? Theme.accent : Theme.secondaryText
        Symbol {
            anchors.centerIn: parent
            visible: box.ticked || box.inside
            size: 12
            name: box.ticked ? "checkmark" : "minus"
            tint: box.ticked ? Theme.accentText : Theme.accent
        }
    }
}
