#include "RingKit/RingLayout.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ringkit {
namespace {

using quenwick::FileTree;

uint64_t saturatingAdd(uint64_t a, uint64_t b) {
    return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max()
                                                        : a + b;
}

// The children of one folder being placed. Kept on an explicit stack rather than the call
// stack, so a caller's huge maxDepth over a deep chain of folders cannot exhaust it.
struct Frame {
    size_t begin = 0;  // the folder's children that get an arc: order[begin, end)
    size_t end = 0;
    size_t next = 0;
    FileTree::Node parent = FileTree::none;
    int depth = 1;
    int64_t branch = -1;  // inherited from the ring-1 ancestor; -1 at ring 1
    double cursor = 0;
    // Where the folder's own arc ends: no child may pass it, whatever the tree's sizes say.
    double limit = 0;
    uint64_t smallBytes = 0;
    int64_t smallCount = 0;
};

// Appends the children of folder that get an arc to `order`, in childrenBySize order, and sums
// up the rest into the frame. Since arcs grow with bytes, the drawn children are exactly the
// head of the size-ordered list, so only they need sorting: a folder of 200,000 small files
// costs one pass instead of a sort.
Frame gather(const FileTree& tree, FileTree::Node folder, double perByte, double minAngle,
             std::vector<FileTree::Node>& order) {
    Frame f;
    f.parent = folder;
    f.begin = f.next = order.size();
    for (auto c = tree.firstChild(folder); c != FileTree::none; c = tree.nextSibling(c)) {
        const uint64_t bytes = tree.size(c);
        if (bytes == 0) continue;  // no arc, and not counted as small either
        if (perByte * static_cast<double>(bytes) < minAngle) {
            f.smallBytes = saturatingAdd(f.smallBytes, bytes);
            ++f.smallCount;
            continue;
        }
        order.push_back(c);
    }
    std::stable_sort(
        order.begin() + static_cast<ptrdiff_t>(f.begin), order.end(),
        [&tree](FileTree::Node a, FileTree::Node b) { return tree.size(a) > tree.size(b); });
    f.end = order.size();
    return f;
}

}  // namespace

std::vector<RingSegment> RingLayout::layout(const FileTree& tree, FileTree::Node focus,
                                            int maxDepth, double minAngle,
                                            std::span<const Extra> extras) {
    std::vector<RingSegment> out;
    if (focus >= tree.count() || maxDepth < 1) return out;
    // Summed as reals so a total beyond 2^64 - 1 still gives a full circle, not a wrapped one.
    double total = static_cast<double>(tree.size(focus));
    for (const auto& e : extras)
        total += static_cast<double>(e.bytes);
    if (total == 0) return out;
    if (!(minAngle >= 0)) minAngle = 0;

    out.reserve(2048);
    const double perByte = fullCircle / total;

    std::vector<FileTree::Node> order;
    std::vector<Frame> stack;
    stack.push_back(gather(tree, focus, perByte, minAngle, order));
    stack.back().limit = std::min(perByte * static_cast<double>(tree.size(focus)), fullCircle);
    double ringOneEnd = 0;

    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next == f.end) {
            if (f.smallBytes > 0) {
                const double start = f.cursor;
                const double end =
                    std::min(start + perByte * static_cast<double>(f.smallBytes), f.limit);
                out.push_back({RingSegment::Kind::smaller(f.parent, f.smallCount), f.depth, start,
                               end, f.smallBytes, -1});
                f.cursor = end;
            }
            if (stack.size() == 1) ringOneEnd = f.cursor;
            order.resize(f.begin);
            stack.pop_back();
            continue;
        }
        const size_t position = f.next - f.begin;
        const FileTree::Node child = order[f.next++];
        const uint64_t bytes = tree.size(child);
        const int64_t branch = f.branch >= 0 ? f.branch : static_cast<int64_t>(position);
        const double start = f.cursor;
        const double end = std::min(start + perByte * static_cast<double>(bytes), f.limit);
        out.push_back({RingSegment::Kind::node(child), f.depth, start, end, bytes, branch});
        f.cursor = end;
        if (f.depth < maxDepth && tree.isDirectory(child)) {
            const int depth = f.depth + 1;  // f dies when the stack grows
            Frame inner = gather(tree, child, perByte, minAngle, order);
            inner.depth = depth;
            inner.branch = branch;
            inner.cursor = start;
            inner.limit = end;
            stack.push_back(inner);
        }
    }

    double cursor = ringOneEnd;
    for (const auto& e : extras) {
        if (e.bytes == 0) continue;
        const double end = std::min(cursor + perByte * static_cast<double>(e.bytes), fullCircle);
        out.push_back({e.kind, 1, cursor, end, e.bytes, -1});
        cursor = end;
    }
    return out;
}

std::vector<RingLayout::Extra> RingLayout::volumeExtras(const quenwick::VolumeInfo& volume,
                                                        uint64_t scannedBytes) {
    const uint64_t unseen = volume.hidden(scannedBytes);
    const uint64_t purgeable = volume.purgeable();
    return {{RingSegment::Kind::hidden(), unseen >= purgeable ? unseen - purgeable : 0},
            {RingSegment::Kind::purgeable(), std::min(unseen, purgeable)}};
}

double RingLayout::angle(double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y)) return 0;
    double a = std::atan2(x, y);
    if (a < 0) a += fullCircle;
    // A point a hair left of the top rounds to 2π, which the half-open range excludes.
    if (a >= fullCircle) a = std::nextafter(fullCircle, 0.0);
    return a + 0.0;  // turns -0 into +0
}

int RingLayout::ringAt(const RingGeometry& g, double radius) {
    if (!std::isfinite(radius)) return -1;
    if (radius < g.centerRadius) return 0;
    // Written so that a geometry with NaN radii has no rings rather than a bogus one.
    if (!(g.centerRadius <= radius && radius <= g.outerRadius) || g.maxDepth < 1) return -1;
    const double band = g.band();
    // A degenerate geometry (both radii equal) still has its one circle on ring 1.
    const double rings = band > 0 ? (radius - g.centerRadius) / band : 0.0;
    if (rings >= g.maxDepth) return g.maxDepth;
    return static_cast<int>(rings) + 1;
}

RingHit RingLayout::hitTest(std::span<const RingSegment> segments, const RingGeometry& geometry,
                            double x, double y) {
    const int depth = ringAt(geometry, std::hypot(x, y));
    if (depth == 0) return RingHit::center();
    if (depth < 0) return RingHit::none();
    const double a = angle(x, y);
    for (size_t i = 0; i < segments.size(); ++i) {
        const auto& s = segments[i];
        if (s.depth == depth && s.start <= a && a < s.end) {
            return RingHit::segment(static_cast<int64_t>(i));
        }
    }
    return RingHit::none();
}

}  // namespace ringkit
