#pragma once

#include <QString>

// The main window's pictures for brimvale-screenshots: main-light.png and main-dark.png (the
// Explorer with a tree, the ring and a staged item) and review.png (the review sheet with a
// caution), 1280 × 800, flattened onto the window's opaque background. Needs a display and a
// temporary home (HOME and the XDG folders already pointing into it). False when a picture could
// not be made, with the reason on stderr.
namespace brimvale {

[[nodiscard]] bool saveMainWindowScreenshots(const QString& outDir);

}  // namespace brimvale
