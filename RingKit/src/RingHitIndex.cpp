#include "RingKit/RingHitIndex.h"

#include <algorithm>
#include <cmath>

#include "RingKit/RingLayout.h"

namespace ringkit {

RingHitIndex::RingHitIndex(std::span<const RingSegment> segments, const RingGeometry& geometry)
    : geometry_(geometry), rings_(static_cast<size_t>(std::max(geometry.maxDepth, 0))) {
    for (size_t i = 0; i < segments.size(); ++i) {
        const auto& s = segments[i];
        // An arc without width (or with a NaN angle) can never be hit.
        if (s.depth < 1 || s.depth > geometry.maxDepth || !(s.start < s.end)) continue;
        rings_[static_cast<size_t>(s.depth) - 1].arcs.push_back(
            {s.start, s.end, static_cast<int64_t>(i)});
    }
    for (auto& ring : rings_) {
        auto sorted = ring.arcs;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const Arc& a, const Arc& b) { return a.start < b.start; });
        for (size_t k = 1; k < sorted.size() && ring.disjoint; ++k)
            ring.disjoint = sorted[k].start >= sorted[k - 1].end;
        if (ring.disjoint) ring.arcs = std::move(sorted);
    }
}

RingHit RingHitIndex::hitTest(double x, double y) const {
    const int depth = RingLayout::ringAt(geometry_, std::hypot(x, y));
    if (depth == 0) return RingHit::center();
    if (depth < 0 || static_cast<size_t>(depth) > rings_.size()) return RingHit::none();
    const double a = RingLayout::angle(x, y);
    const Ring& ring = rings_[static_cast<size_t>(depth) - 1];
    if (ring.disjoint) {
        auto it = std::upper_bound(ring.arcs.begin(), ring.arcs.end(), a,
                                   [](double angle, const Arc& arc) { return angle < arc.start; });
        if (it == ring.arcs.begin()) return RingHit::none();
        --it;
        return a < it->end ? RingHit::segment(it->index) : RingHit::none();
    }
    for (const auto& arc : ring.arcs) {
        if (arc.start <= a && a < arc.end) return RingHit::segment(arc.index);
    }
    return RingHit::none();
}

}  // namespace ringkit
