import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Brimvale
import "main"

// The tour's card: the step's symbol, title and body, "Step N of 7", and Skip, Back and the
// primary button. `card` is AppModel.tourCard(); the buttons only signal.
Rectangle {
    id: tourCard
    property var card: ({})
    signal skipClicked()
    signal backClicked()
    signal primaryClicked()

    width: 360
    implicitHeight: column.implicitHeight + 2 * padding
    readonly property int padding: Theme.spacing * 2.5
    radius: Theme.radius * 1.5
    color: Theme.surface
    border.color: Theme.separator
    Accessible.role: Accessible.Dialog
    Accessible.name: card.title || ""
    Accessible.description: card.body || ""

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: tourCard.padding
        spacing: Theme.spacing * 1.25

        RowLayout {
            spacing: Theme.spacing * 1.25
            Rectangle {
                Layout.preferredWidth: 36
                Layout.preferredHeight: 36
                radius: 18
                color: Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.15)
                Symbol {
                    anchors.centerIn: parent
                    name: tourCard.card.symbol || ""
                    size: 20
                    tint: Theme.accent
                }
            }
            Label {
                objectName: "tourTitle"
                Layout.fillWidth: true
                text: tourCard.card.title || ""
                color: Theme.text
                font.pixelSize: 17
                font.weight: Font.DemiBold
                wrapMode: Text.Wrap
            }
        }
        Label {
            objectName: "tourBody"
            Layout.fillWidth: true
            text: tourCard.card.body || ""
            color: Theme.secondaryText
            wrapMode: Text.Wrap
            lineHeight: 1.15
        }
        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: Theme.spacing / 2
            spacing: Theme.spacing
            Label {
                objectName: "tourProgress"
                text: tourCard.card.progress || ""
                color: Theme.tertiaryText
                font.pixelSize: 12
            }
            Item { Layout.fillWidth: true }
            Button {
                objectName: "tourSkip"
                visible: tourCard.card.canSkip === true
                text: "Skip"
                flat: true
                onClicked: tourCard.skipClicked()
            }
            Button {
                objectName: "tourBack"
                visible: tourCard.card.canGoBack === true
                text: "Back"
                onClicked: tourCard.backClicked()
            }
            Button {
                objectName: "tourPrimary"
                text: tourCard.card.primary || ""
                highlighted: true
                focus: true
                onClicked: tourCard.primaryClicked()
            }
        }
    }
}
