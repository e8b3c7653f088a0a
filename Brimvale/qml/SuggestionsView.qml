import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Brimvale
import "main"

// The Suggestions section: the analysis' waiting and empty states, or the header with the totals
// and the send button above one card per category. Reads `appModel`; keeps only which cards are
// expanded.
Item {
    id: root
    objectName: "suggestionsView"

    readonly property var suggestions: appModel.suggestions
    readonly property int phase: appModel.shorelinePhase
    readonly property bool showsFindings: phase === Brimvale.ShorelinePhase.ready && cards.count > 0

    Accessible.role: Accessible.Pane
    Accessible.name: "Suggestions"

    // Which cards are open, by category id.
    property var expanded: ({})
    function toggleExpanded(id) {
        const next = Object.assign({}, expanded)
        next[id] = !next[id]
        expanded = next
    }

    ColumnLayout {
        id: stateView
        objectName: "suggestionsState"
        visible: !root.showsFindings
        anchors.centerIn: parent
        width: Math.min(parent.width - 4 * Theme.spacing, 460)
        spacing: Theme.spacing * 1.5

        readonly property bool waiting: root.phase === Brimvale.ShorelinePhase.idle
                                        || root.phase === Brimvale.ShorelinePhase.analyzing
        readonly property bool unavailable: root.phase === Brimvale.ShorelinePhase.unavailable

        BusyIndicator {
            Layout.alignment: Qt.AlignHCenter
            visible: stateView.waiting
            running: visible
        }
        Symbol {
            Layout.alignment: Qt.AlignHCenter
            visible: !stateView.waiting
            name: stateView.unavailable ? "house" : "checkmark.seal"
            size: 48
        }
        Label {
            objectName: "stateTitle"
            Layout.fillWidth: true
            visible: !stateView.waiting
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            font.pixelSize: 20
            font.weight: Font.DemiBold
            color: Theme.text
            text: stateView.unavailable ? "Suggestions need your home folder" : "Nothing to clean up"
        }
        Label {
            objectName: "stateLine"
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            color: Theme.secondaryText
            text: {
                switch (root.phase) {
                case Brimvale.ShorelinePhase.idle:
                    return "Waiting for the scan to finish…"
                case Brimvale.ShorelinePhase.analyzing:
                    return "Looking for things you can safely remove…"
                case Brimvale.ShorelinePhase.unavailable:
                    return "Scan your Startup Disk or Home folder to see cleanup suggestions."
                default:
                    return "Brimvale didn't find caches, leftovers or duplicates worth removing."
                }
            }
        }
    }

    ListView {
        id: cards
        objectName: "suggestionCards"
        anchors.fill: parent
        visible: root.showsFindings
        clip: true
        spacing: Theme.spacing
        topMargin: Theme.spacing * 3
        bottomMargin: Theme.spacing * 3
        leftMargin: Theme.spacing * 3
        rightMargin: Theme.spacing * 3
        model: root.suggestions
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {}
        Accessible.role: Accessible.List
        Accessible.name: "Suggestion categories"

        header: SuggestionsHeader {
            width: cards.width - cards.leftMargin - cards.rightMargin
        }

        delegate: CategoryCard {
            width: cards.width - cards.leftMargin - cards.rightMargin
            categoryIndex: index
            open: root.expanded[categoryId] === true
            onToggleRequested: root.toggleExpanded(categoryId)
        }
    }
}
