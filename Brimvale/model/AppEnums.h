#pragma once

#include <QObject>

// The app model's small enumerations, readable from QML by name (Brimvale.Phase.ready, ...).
namespace brimvale {
Q_NAMESPACE

// Which pane the main window shows.
enum class AppSection { explorer, shoreline, history };
Q_ENUM_NS(AppSection)

// The scan machine: nothing started yet, a full scan running, a snapshot being caught up, a tree
// on screen.
enum class Phase { idle, scanning, updating, ready };
Q_ENUM_NS(Phase)

// The suggestions analysis.
enum class ShorelinePhase { idle, analyzing, ready, unavailable };
Q_ENUM_NS(ShorelinePhase)

// A node against the Cleanup List: not listed, listed itself, or inside a listed folder.
enum class StageState { off, on, insideStaged };
Q_ENUM_NS(StageState)

}  // namespace brimvale
