#pragma once

#include <QString>

// The Space Watch pictures of the screenshots tool: history.png (the History section over 40
// days), popover.png (the popover with a forecast and growth), both also in dark (-dark) and on the
// first day (-empty), and tray-25.png and tray-90.png (the 48-pixel glyph for a dark panel on that
// panel's colour). The model gets a made-up history and volume for them. Needs a display and a
// QApplication; GUI thread.
namespace brimvale {

class AppModel;

[[nodiscard]] bool saveWatchScreenshots(AppModel& model, const QString& outDir);

}  // namespace brimvale
