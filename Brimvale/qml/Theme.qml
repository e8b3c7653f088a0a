pragma Singleton
import QtQuick

// The views' shared colours and measures, light and dark. The window binds `dark` to the
// desktop's preference; tests and screenshots set it directly.
QtObject {
    property bool dark: false

    // Surfaces: the window behind the ring, the sidebar and sheets, raised cards.
    readonly property color window: dark ? "#1c1c22" : "#f6f6f9"
    readonly property color sidebar: dark ? "#23232a" : "#ececf1"
    readonly property color surface: dark ? "#2a2a32" : "#ffffff"
    readonly property color separator: dark ? "#3a3a44" : "#d9d9e0"

    readonly property color text: dark ? "#ececf1" : "#1d1d22"
    readonly property color secondaryText: dark ? "#a3a3ad" : "#5f5f6b"
    readonly property color tertiaryText: dark ? "#7a7a85" : "#8c8c96"

    readonly property color accent: dark ? "#8b8cf5" : "#5b5bd6"
    readonly property color accentText: "#ffffff"
    readonly property color hover: dark ? "#32323c" : "#e4e4ec"
    readonly property color selection: dark ? "#3b3b6e" : "#dcdcf7"

    readonly property color green: dark ? "#4fc48a" : "#2f9e62"
    readonly property color yellow: dark ? "#e6c14f" : "#b98a0a"
    readonly property color orange: dark ? "#f0a04b" : "#d9771f"
    readonly property color red: dark ? "#f06a6a" : "#d13d3d"
    readonly property color blue: dark ? "#5aa9f0" : "#1f74c9"

    readonly property int spacing: 8
    readonly property int radius: 8
    readonly property int rowHeight: 32
}
