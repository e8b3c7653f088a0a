#pragma once

#include <cstdint>
#include <numbers>
#include <span>
#include <vector>

#include "QuenwickCore/FileTree.h"
#include "QuenwickCore/VolumeInfo.h"
#include "RingKit/RingGeometry.h"
#include "RingKit/RingHit.h"
#include "RingKit/RingSegment.h"

// Lays a focused folder of a FileTree out as rings of arcs, and maps points back to arcs.
// Pure functions: they read the tree and return fresh values, so any thread may call them while
// no writer changes the tree.
//
// Layout promises, for any tree: arcs come in depth-first pre-order (an arc, then everything
// inside it, then its next sibling; a folder's `smaller` arc after all its drawn children; the
// extras last); every angle is finite and within [0, 2π]; a child's arc lies inside its parent's
// arc and arcs of one ring never overlap, even when a tree's folder sizes disagree with their
// children (the children are then cut off at the parent's end); no arc lies deeper than
// maxDepth; and every `node` arc is at least minAngle wide unless cut off that way.
namespace ringkit {

class RingLayout {
public:
    RingLayout() = delete;

    static constexpr double fullCircle = 2 * std::numbers::pi;
    // Arcs narrower than half a degree are folded into their parent's `smaller` arc.
    static constexpr double defaultMinAngle = std::numbers::pi / 360;
    static constexpr int defaultMaxDepth = 5;

    // A share of the circle beside the focus's children (the volume's hidden and purgeable space).
    struct Extra {
        RingSegment::Kind kind;
        uint64_t bytes = 0;
    };

    // The arcs for `focus` (and its descendants down to ring maxDepth). Empty when the focus and
    // every extra hold 0 bytes, when maxDepth < 1, or when focus is not a node of the tree. Byte
    // sums that pass 2^64 - 1 saturate there.
    [[nodiscard]] static std::vector<RingSegment> layout(const quenwick::FileTree& tree,
                                                         quenwick::FileTree::Node focus,
                                                         int maxDepth = defaultMaxDepth,
                                                         double minAngle = defaultMinAngle,
                                                         std::span<const Extra> extras = {});

    // The extras the app shows at the root of a finished scan of the startup disk: the space
    // the volume counts as used but the scan did not see, split into `hidden` then `purgeable`.
    [[nodiscard]] static std::vector<Extra> volumeExtras(const quenwick::VolumeInfo& volume,
                                                         uint64_t scannedBytes);

    // The angle of a point, clockwise from the upward axis, in [0, 2π); 0 for a non-finite
    // point.
    [[nodiscard]] static double angle(double x, double y);

    // The arc, centre disc or nothing under a point in ring units (y up): the first arc in list
    // order on the point's ring whose start <= angle < end. Radius exactly centerRadius or
    // outerRadius belongs to the rings. Linear in the number of segments; RingHitIndex answers
    // the same in logarithmic time.
    [[nodiscard]] static RingHit hitTest(std::span<const RingSegment> segments,
                                         const RingGeometry& geometry, double x, double y);

    // The ring (1-based) a radius falls on, 0 inside the centre disc, -1 outside the rings or
    // for a non-finite radius.
    [[nodiscard]] static int ringAt(const RingGeometry& geometry, double radius);
};

}  // namespace ringkit
