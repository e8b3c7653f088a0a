#pragma once

#include <QColor>
#include <QImage>
#include <QString>

#include <functional>

class QQuickWindow;

// The main window's pictures for brimvale-screenshots: main-light.png and main-dark.png (the
// Explorer with a tree, the ring and a staged item) and review.png (the review sheet with a
// caution), 1280 × 800, flattened onto the window's opaque background. Needs a display and a
// temporary home (HOME and the XDG folders already pointing into it). False when a picture could
// not be made, with the reason on stderr.
namespace brimvale {

[[nodiscard]] bool saveMainWindowScreenshots(const QString& outDir);

// What every picture of the tool shares.
namespace screenshots {
// Runs the event loop until done() or ms have passed; done()'s last answer.
bool waitUntil(const std::function<bool()>& done, int ms);
void pause(int ms);
// Saves a picture flattened onto background (a grab may carry alpha) as 8-bit RGB PNG; prints
// the path, or says on standard error that it could not.
bool saveFlattened(const QImage& picture, const QColor& background, const QString& path);
// Grabs the window after a moment and saves it as saveFlattened does.
bool save(QQuickWindow& window, const QColor& background, const QString& path);
}  // namespace screenshots

}  // namespace brimvale
