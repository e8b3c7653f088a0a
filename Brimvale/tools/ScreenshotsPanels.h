#pragma once

#include <QString>

// The panels' pictures for brimvale-screenshots: suggestions.png (the Suggestions of a real home
// with caches, an old installer and a full Trash, its biggest card open), settings.png and
// tour.png (the main window with the tour pointing at the ring), 1280 × 800, 8-bit RGB on the
// window's opaque background. Needs a display and a temporary home (HOME and the XDG folders
// already pointing into it). False when a picture could not be made, with the reason on stderr.
namespace brimvale {

[[nodiscard]] bool savePanelScreenshots(const QString& outDir);

}  // namespace brimvale
