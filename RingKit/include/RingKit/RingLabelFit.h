#pragma once

#include <optional>

#include "RingKit/RingGeometry.h"
#include "RingKit/Theme.h"

// Where an arc's label goes, if it has room: arcs of the first two rings whose length at
// mid-radius holds the text's width and whose ring holds its height carry the text centred on
// the arc, running along it and turned so it never reads upside down. The app and the SVG
// writer place labels by the same rule. Pure, any thread.
namespace ringkit {

class RingLabelFit {
public:
    RingLabelFit() = delete;

    static constexpr int deepestLabelledRing = 2;
    // Room left free around the text, pixels.
    static constexpr double margin = 6;

    struct Placement {
        double x = 0;  // centre of the text in ring units (y up)
        double y = 0;
        double rotation = 0;  // degrees clockwise, 0 for text at the top of the ring
    };

    // The placement for a text of textWidth × textHeight pixels on the arc from start to end at
    // (real) depth, drawn at unitPx pixels per ring unit; none when it does not fit or any
    // value is not finite.
    [[nodiscard]] static std::optional<Placement> place(double start, double end, double depth,
                                                        double unitPx, double textWidth,
                                                        double textHeight,
                                                        const RingGeometry& geometry = {});

    // Text colour that reads on an arc's colour: near-black on light fills, white on dark ones.
    [[nodiscard]] static Rgba textColor(const Rgba& fill);
};

}  // namespace ringkit
