#pragma once

#include <functional>
#include <span>
#include <string>

#include "RingKit/RingGeometry.h"
#include "RingKit/RingSegment.h"

// Writes a layout as a standalone SVG picture in the app's colours: every arc an annular sector
// with the app's one-pixel gaps between neighbours, each with a <title> (label and size) that a
// browser shows on hover; the centre disc with its fullness track and arc on top. Only text is
// produced; writing it to a file is the caller's business. Pure, any thread.
namespace ringkit {

class RingSvg {
public:
    RingSvg() = delete;

    struct Options {
        int size = 512;           // width and height in pixels; values below 16 count as 16
        bool dark = false;        // the dark theme
        double fullness = 0;      // 0 to 1, drawn as the arc in the centre disc
        std::string centerTitle;  // hover text of the centre disc; none when empty
        // Arcs with room also show their label and size as text, as the app's ring does.
        bool labels = false;
    };

    // Text for an arc's title; the formatted size is appended.
    using Label = std::function<std::string(const RingSegment&)>;

    // Arcs outside the geometry's rings or without width are left out. Titles may contain any
    // bytes: invalid UTF-8 and characters XML cannot carry come out as U+FFFD.
    [[nodiscard]] static std::string render(std::span<const RingSegment> segments,
                                            const RingGeometry& geometry, const Label& label,
                                            const Options& options);
};

}  // namespace ringkit
