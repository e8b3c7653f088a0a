import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Brimvale
import "main"

// The main window: the sidebar with the three sections, the section on screen, the notice toast,
// the review sheet and the tour on top.
ApplicationWindow {
    id: window
    objectName: "main"
    width: 1240
    height: 800
    minimumWidth: 600
    minimumHeight: 400
    visible: true
    title: "Brimvale"
    color: Theme.window

    // What a title bar with a subtitle would show beneath the title.
    readonly property string subtitle: texts.subtitle
    readonly property alias explorer: explorer
    readonly property alias review: review
    readonly property alias toast: toast
    readonly property alias noticeClock: noticeClock

    palette.window: Theme.window
    palette.windowText: Theme.text
    palette.base: Theme.surface
    palette.alternateBase: Theme.sidebar
    palette.text: Theme.text
    palette.button: Theme.surface
    palette.buttonText: Theme.text
    palette.highlight: Theme.accent
    palette.highlightedText: Theme.accentText
    palette.toolTipBase: Theme.surface
    palette.toolTipText: Theme.text
    palette.placeholderText: Theme.tertiaryText
    palette.mid: Theme.separator
    palette.light: Theme.hover
    palette.dark: Theme.separator
    palette.shadow: Theme.dark ? "#000000" : "#80808a"

    Binding {
        target: Theme
        property: "dark"
        value: appearance.dark
        when: typeof appearance !== "undefined" && appearance !== null
    }

    NoticeClock {
        id: noticeClock
        model: appModel
    }

    Shortcut {
        sequences: ["Ctrl+R", "F5"]
        enabled: !texts.scanning && !review.opened
        onActivated: appModel.rescan()
    }
    Shortcut {
        sequence: "Alt+Up"
        enabled: texts.canGoUp && !review.opened
        onActivated: appModel.goUp()
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0

        Sidebar {
            id: sidebar
            Layout.fillHeight: true
            Layout.preferredWidth: window.width < 900 ? 150 : 230
        }
        Rectangle {
            Layout.fillHeight: true
            width: 1
            color: Theme.separator
        }
        Item {
            id: content
            Layout.fillWidth: true
            Layout.fillHeight: true

            ExplorerView {
                id: explorer
                anchors.fill: parent
                visible: appModel.section === Brimvale.AppSection.explorer
                onReviewRequested: review.openReview()
            }
            Loader {
                anchors.fill: parent
                active: appModel.section === Brimvale.AppSection.shoreline
                visible: active
                source: "SuggestionsView.qml"
            }
            Loader {
                anchors.fill: parent
                active: appModel.section === Brimvale.AppSection.history
                visible: active
                source: "HistoryView.qml"
            }
        }
    }

    NoticeToast {
        id: toast
        anchors.bottom: parent.bottom
        anchors.bottomMargin: explorer.visible ? explorer.trayHeight + 24 : 24
        x: sidebar.width + (content.width - width) / 2
    }

    ReviewSheet {
        id: review
    }

    // The tour points at the ring, the list, the Cleanup List and the content area; it comes in
    // its own file and the window stands without it.
    Loader {
        id: tour
        anchors.fill: parent
        z: 10
        source: "TourOverlay.qml"
        onLoaded: {
            item.ringTarget = explorer.ringPane
            item.listTarget = explorer.itemList
            item.cleanupTarget = explorer.tray
            item.contentTarget = content
            item.model = appModel
        }
    }
}
