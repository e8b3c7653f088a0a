#include "RingKit/RingMorph.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace ringkit {

RingMorph::Result RingMorph::pair(std::span<const RingSegment> oldSegments,
                                  std::span<const RingSegment> newSegments,
                                  const ParentLookup& parent) {
    using Kind = RingSegment::Kind;
    std::unordered_map<Kind, size_t> oldByKind;
    oldByKind.reserve(oldSegments.size());
    for (size_t i = 0; i < oldSegments.size(); ++i)
        oldByKind[oldSegments[i].kind] = i;
    const auto oldStartOfNode = [&](uint32_t n) -> const double* {
        if (n == Kind::noNode) return nullptr;
        const auto it = oldByKind.find(Kind::node(n));
        return it == oldByKind.end() ? nullptr : &oldSegments[it->second].start;
    };

    Result result;
    result.pairs.reserve(newSegments.size());
    // Indexed by the old arc that won its kind: matching a kind matches every old arc of it.
    std::vector<bool> matched(oldSegments.size(), false);
    for (const auto& to : newSegments) {
        if (const auto it = oldByKind.find(to.kind); it != oldByKind.end()) {
            matched[it->second] = true;
            result.pairs.push_back({oldSegments[it->second], to});
            continue;
        }
        const double* anchor = nullptr;
        if (to.kind.isNode()) {
            anchor = oldStartOfNode(parent ? parent(to.kind.index) : Kind::noNode);
        } else if (to.kind.isSmaller()) {
            anchor = oldStartOfNode(to.kind.index);
        }
        RingSegment from = to;
        from.start = from.end = anchor != nullptr ? *anchor : to.start;
        result.pairs.push_back({from, to});
    }
    for (const auto& old : oldSegments) {
        if (!matched[oldByKind.at(old.kind)]) result.fading.push_back(old);
    }
    return result;
}

double RingMorph::progress(double elapsed, double duration) {
    if (!(duration > 0) || !std::isfinite(elapsed)) return 1;
    if (elapsed <= 0) return 0;
    const double t = std::min(elapsed / duration, 1.0);
    const double rest = 1 - t;
    return 1 - rest * rest * rest;
}

}  // namespace ringkit
