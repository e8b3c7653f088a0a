#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

#include <array>

// Glyph: the tray's Space Watch ring. In an 18 × 18 unit canvas, a full circle of radius 6.4 and
// width 3 at 30 % opacity (the track), and over it, when fullness > 0, an arc from 12 o'clock
// clockwise over min(fullness, 1) of the turn with round caps, opaque. Panels differ, so it comes
// in the panel's text colour: white for a dark panel, black for a light one, on transparency.
// image() and the texts: pure, any thread; icon() makes pixmaps: GUI thread.
namespace brimvale {

class Glyph {
public:
    Glyph() = delete;

    enum class Panel { light, dark };
    // The sizes trays ask for, in device-independent pixels.
    static constexpr std::array<int, 5> traySizes{16, 22, 24, 32, 48};

    // A square image of `pixels` device pixels (at least 1), ARGB32 premultiplied.
    [[nodiscard]] static QImage image(double fullness, int pixels, Panel panel);
    // Every tray size at the screen's scale (devicePixelRatio, e.g. 1.25 or 2).
    [[nodiscard]] static QIcon icon(double fullness, Panel panel, double devicePixelRatio);
    // The panel to draw for, from $XDG_CURRENT_DESKTOP and the desktop's dark preference: panels
    // of Plasma and LXQt follow the colour scheme; GNOME's top bar and the default panels of most
    // other desktops are dark whatever the scheme.
    [[nodiscard]] static Panel panelFor(const QString& currentDesktop, bool prefersDark);
    // "Disk " + whole percent (truncated) + "% full": the tray item's tooltip.
    [[nodiscard]] static QString description(double fullness);
    // Where the arc ends, in degrees clockwise from 12 o'clock: 0 ... 360.
    [[nodiscard]] static double endAngle(double fullness);

    static constexpr double canvas = 18;
    static constexpr double radius = 6.4;
    static constexpr double lineWidth = 3;
    static constexpr double trackOpacity = 0.3;
};

}  // namespace brimvale
