#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "RingKit/RingGeometry.h"
#include "RingKit/RingHit.h"
#include "RingKit/RingSegment.h"

// The arcs of one layout sorted per ring, so that a hit test (hover runs one per mouse move)
// takes a binary search instead of a pass over every arc. Answers exactly what
// RingLayout::hitTest answers for the same list and geometry, for any list: a ring whose arcs
// overlap (never the case for a layout's output) is searched in list order instead.
//
// Keeps its own copy of the angles; the list may go away. Immutable once built: any thread may
// query it.
namespace ringkit {

class RingHitIndex {
public:
    RingHitIndex() = default;
    RingHitIndex(std::span<const RingSegment> segments, const RingGeometry& geometry);

    [[nodiscard]] RingHit hitTest(double x, double y) const;

private:
    struct Arc {
        double start;
        double end;
        int64_t index;
    };
    struct Ring {
        std::vector<Arc> arcs;  // by start when disjoint, else in list order
        bool disjoint = true;
    };

    RingGeometry geometry_;
    std::vector<Ring> rings_;  // ring d at d - 1
};

}  // namespace ringkit
