import QtQuick
import Brimvale

// The guided tour over the main window: the card of the model's current step beside the part of
// the window the step names, with that part outlined, or centred when it names none. The window
// sets `model` and the four targets; the tour starts by itself through the model once a tree is
// ready (AppModel.startTourIfDue).
Item {
    id: overlay
    property var model: null
    property Item ringTarget: null
    property Item listTarget: null
    property Item cleanupTarget: null
    property Item contentTarget: null

    readonly property bool running: model !== null && model.tourStep !== undefined
    // Reads tourStep itself, so that every step change re-reads the card.
    readonly property var card: model !== null && model.tourStep !== undefined ? model.tourCard() : ({})
    readonly property Item target: {
        switch (card.target) {
        case "ring": return ringTarget
        case "list": return listTarget
        case "lowTide": return cleanupTarget
        case "content": return contentTarget
        default: return null
        }
    }
    // The target's rectangle in the overlay; follows layout changes of the window.
    property rect targetRect: Qt.rect(0, 0, 0, 0)
    function updateTargetRect() {
        if (!target || !target.visible) {
            targetRect = Qt.rect(0, 0, 0, 0)
            return
        }
        const p = target.mapToItem(overlay, 0, 0)
        targetRect = Qt.rect(p.x, p.y, target.width, target.height)
    }
    onTargetChanged: updateTargetRect()
    onWidthChanged: updateTargetRect()
    onHeightChanged: updateTargetRect()
    Connections {
        target: overlay.target
        ignoreUnknownSignals: true
        function onWidthChanged() { overlay.updateTargetRect() }
        function onHeightChanged() { overlay.updateTargetRect() }
        function onXChanged() { overlay.updateTargetRect() }
        function onYChanged() { overlay.updateTargetRect() }
        function onVisibleChanged() { overlay.updateTargetRect() }
    }

    visible: running
    enabled: running

    Connections {
        target: overlay.model
        ignoreUnknownSignals: true
        function onPhaseChanged() { overlay.model.startTourIfDue() }
    }
    onModelChanged: if (model) model.startTourIfDue()

    // Clicks outside the card reach nothing while the tour runs.
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.AllButtons
        onWheel: (wheel) => wheel.accepted = true
    }
    Rectangle {
        anchors.fill: parent
        color: Theme.dark ? "#000000" : "#1d1d22"
        opacity: 0.18
    }
    Rectangle {
        objectName: "tourHighlight"
        visible: overlay.targetRect.width > 0
        x: overlay.targetRect.x - 4
        y: overlay.targetRect.y - 4
        width: overlay.targetRect.width + 8
        height: overlay.targetRect.height + 8
        radius: Theme.radius
        color: "transparent"
        border.color: Theme.accent
        border.width: 3
    }

    TourCard {
        id: tourCard
        objectName: "tourCard"
        card: overlay.card
        height: implicitHeight

        // Beside the target where there is room (right, left, below, above), else centred.
        readonly property real gap: Theme.spacing * 2
        readonly property rect t: overlay.targetRect
        readonly property bool hasTarget: t.width > 0
        readonly property real clampedY: Math.max(gap, Math.min(overlay.height - height - gap,
                                                                t.y + (t.height - height) / 2))
        readonly property real clampedX: Math.max(gap, Math.min(overlay.width - width - gap,
                                                                t.x + (t.width - width) / 2))
        x: !hasTarget ? (overlay.width - width) / 2
           : t.x + t.width + gap + width <= overlay.width ? t.x + t.width + gap
           : t.x - gap - width >= 0 ? t.x - gap - width
           : clampedX
        y: !hasTarget ? (overlay.height - height) / 2
           : (t.x + t.width + gap + width <= overlay.width || t.x - gap - width >= 0) ? clampedY
           : t.y + t.height + gap + height <= overlay.height ? t.y + t.height + gap
           : t.y - gap - height >= 0 ? t.y - gap - height
           : (overlay.height - height) / 2

        onSkipClicked: overlay.model.skipTour()
        onBackClicked: overlay.model.showTourStep(overlay.model.tourStep - 1)
        onPrimaryClicked: overlay.model.showTourStep(overlay.model.tourStep + 1)
    }

    Keys.onEscapePressed: if (card.canSkip) model.skipTour()
}
