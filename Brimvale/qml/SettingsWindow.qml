import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import Brimvale

// The Settings window: the General tab (Space Watch and Alerts) and, in builds with the updater,
// the Updates tab. Every control is bound to `settings` (SettingsController). Hidden until
// settings.open() asks for it.
ApplicationWindow {
    id: window
    objectName: "settingsWindow"
    title: "Settings"
    width: 560
    height: 520
    minimumWidth: 480
    minimumHeight: 420
    visible: false
    color: Theme.window

    palette.window: Theme.window
    palette.windowText: Theme.text
    palette.base: Theme.surface
    palette.text: Theme.text
    palette.button: Theme.surface
    palette.buttonText: Theme.text
    palette.highlight: Theme.accent
    palette.highlightedText: Theme.accentText
    palette.mid: Theme.separator

    Connections {
        target: settings
        function onOpenRequested() {
            window.show()
            window.raise()
            window.requestActivate()
            settings.watchService.refresh()
        }
    }
    Shortcut {
        sequences: [StandardKey.Close, "Escape"]
        onActivated: window.close()
    }

    header: TabBar {
        id: tabs
        objectName: "settingsTabs"
        palette.window: Theme.sidebar
        TabButton {
            objectName: "generalTab"
            text: "General"
            icon.name: "preferences-system-symbolic"
            width: implicitWidth + 24
        }
        TabButton {
            objectName: "updatesTab"
            visible: settings.updaterBuilt
            text: "Updates"
            icon.name: "software-update-available-symbolic"
            width: visible ? implicitWidth + 24 : 0
        }
    }

    StackLayout {
        anchors.fill: parent
        anchors.margins: Theme.spacing * 3
        currentIndex: tabs.currentIndex

        ScrollView {
            id: general
            objectName: "generalPage"
            contentWidth: availableWidth
            ColumnLayout {
                width: general.availableWidth
                spacing: Theme.spacing * 2

                SettingsSection {
                    objectName: "spaceWatchSection"
                    title: "Space Watch"
                    Switch {
                        objectName: "showMenuBarToggle"
                        text: "Show Space Watch in the system tray"
                        checked: settings.showMenuBar
                        onToggled: settings.showMenuBar = checked
                    }
                    Switch {
                        objectName: "loginToggle"
                        text: "Open Brimvale at login"
                        checked: settings.openAtLogin
                        onToggled: settings.openAtLogin = checked
                    }
                    Switch {
                        objectName: "watchServiceToggle"
                        visible: settings.watchService.available
                        enabled: !settings.watchService.busy
                        text: "Keep track of changes while Brimvale is closed"
                        onToggled: settings.watchService.setEnabled(checked)
                        // Follows the unit's real state, also after a switch the manager refused.
                        Binding on checked { value: settings.watchService.enabled }
                    }
                    Label {
                        objectName: "spaceWatchNote"
                        Layout.fillWidth: true
                        wrapMode: Text.Wrap
                        color: Theme.secondaryText
                        font.pixelSize: 12
                        text: "While Brimvale runs, it catches up on changes every 6 hours and records a small daily summary for History."
                    }
                }

                SettingsSection {
                    objectName: "alertsSection"
                    title: "Alerts"
                    Switch {
                        objectName: "lowSpaceToggle"
                        text: "When free space drops below 10% (or 20 GB)"
                        checked: settings.alertLowSpace
                        onToggled: settings.alertLowSpace = checked
                    }
                    Switch {
                        objectName: "fillingFastToggle"
                        text: "When the disk will fill within a week"
                        checked: settings.alertFillingFast
                        onToggled: settings.alertFillingFast = checked
                    }
                    Switch {
                        objectName: "bigGrowthToggle"
                        text: "When a folder grows by 5 GB in a day"
                        checked: settings.alertBigGrowth
                        onToggled: settings.alertBigGrowth = checked
                    }
                }
            }
        }

        ScrollView {
            id: updates
            objectName: "updatesPage"
            contentWidth: availableWidth
            ColumnLayout {
                width: updates.availableWidth
                spacing: Theme.spacing * 2
                SettingsSection {
                    objectName: "updatesSection"
                    title: "Updates"
                    Switch {
                        objectName: "automaticUpdatesToggle"
                        text: "Check for updates once a day"
                        checked: settings.automaticUpdates
                        onToggled: settings.automaticUpdates = checked
                    }
                    Label {
                        objectName: "updatesNote"
                        Layout.fillWidth: true
                        wrapMode: Text.Wrap
                        color: Theme.secondaryText
                        font.pixelSize: 12
                        text: "Checking downloads a small list of versions from the Brimvale website. Nothing about your computer is sent."
                    }
                    RowLayout {
                        Layout.fillWidth: true
                        Label {
                            objectName: "versionLine"
                            Layout.fillWidth: true
                            text: settings.versionText
                            color: Theme.text
                        }
                        Button {
                            objectName: "checkNowButton"
                            text: "Check Now"
                            onClicked: settings.checkNow()
                        }
                    }
                }
            }
        }
    }
}
