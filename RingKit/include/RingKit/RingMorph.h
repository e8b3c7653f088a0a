#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "RingKit/RingSegment.h"

// Pairs the arcs of the previous layout with those of the new one, so a renderer can move each
// arc from where it was to where it goes, grow new arcs out of their parent's old place and fade
// out the arcs that vanished; and the easing curve it applies. Pure functions, any thread.
namespace ringkit {

class RingMorph {
public:
    RingMorph() = delete;

    struct Pair {
        RingSegment from;  // where the arc starts its animation
        RingSegment to;    // the arc of the new layout
        bool operator==(const Pair&) const = default;
    };

    struct Result {
        std::vector<Pair> pairs;          // one per new arc, in the new list's order
        std::vector<RingSegment> fading;  // old arcs whose kind is gone, in old order
    };

    // A node's parent, or RingSegment::Kind::noNode for the root or when there is no tree.
    using ParentLookup = std::function<uint32_t(uint32_t)>;

    // Arcs are matched by equal kind (a later old arc wins over an earlier one of the same kind).
    // An unmatched new arc grows from a zero-width line at the old start of its parent's arc
    // (for `smaller`, of the folder it belongs to), or at its own start when that is not in the
    // old layout. An empty lookup counts as "no tree".
    [[nodiscard]] static Result pair(std::span<const RingSegment> oldSegments,
                                     std::span<const RingSegment> newSegments,
                                     const ParentLookup& parent);

    // Seconds a morph takes; 0 when the user asked for reduced motion.
    static constexpr double duration = 0.38;

    // Ease-out cubic progress in [0, 1] after `elapsed` seconds of a morph lasting `duration`:
    // 0 before the start, 1 at once for a zero (or invalid) duration and for a non-finite time.
    [[nodiscard]] static double progress(double elapsed, double duration);
};

}  // namespace ringkit
