#pragma once

#include <array>
#include <cstdint>

#include "RingKit/RingSegment.h"

// The ring's colours, light and dark: one hue per ring-1 branch, paler with every ring, greys
// for the aggregate arcs, and the centre disc with its fullness track and arc. Pure, any thread.
namespace ringkit {

// sRGB components from 0 to 1, not premultiplied.
struct Rgba {
    float r = 0, g = 0, b = 0, a = 1;
    bool operator==(const Rgba&) const = default;
};

class Theme {
public:
    Theme() = delete;

    struct Rgb8 {
        uint8_t r, g, b;
    };

    // Indexed by a segment's branch modulo 8.
    static constexpr std::array<Rgb8, 8> branchHues = {{{91, 91, 214},
                                                        {59, 168, 160},
                                                        {224, 168, 79},
                                                        {212, 107, 166},
                                                        {142, 107, 216},
                                                        {79, 167, 122},
                                                        {224, 122, 95},
                                                        {107, 122, 144}}};

    static constexpr Rgba indigo{0.357f, 0.357f, 0.839f, 1};
    static constexpr Rgba indigoLight{0.545f, 0.549f, 0.961f, 1};

    // 8-bit sRGB components as a colour.
    static constexpr Rgba rgb(Rgb8 c, float alpha = 1) {
        return {c.r / 255.0f, c.g / 255.0f, c.b / 255.0f, alpha};
    }

    // The fill of an arc. Rings fade toward the background by depth; the fade stops at the
    // background itself, however deep the ring.
    [[nodiscard]] static Rgba color(const RingSegment& segment, bool dark);

    // What the ring is drawn over, and the centre disc's own colours.
    [[nodiscard]] static Rgba background(bool dark);
    [[nodiscard]] static Rgba centerDisc(bool dark);
    [[nodiscard]] static Rgba track(bool dark);
    [[nodiscard]] static Rgba arc(bool dark);
};

}  // namespace ringkit
