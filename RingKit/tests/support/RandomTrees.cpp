#include "RandomTrees.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>

namespace ringkit {

void PrintTo(const RingSegment::Kind& k, std::ostream* os) {
    static const char* const kNames[] = {"node", "smaller", "hidden", "purgeable"};
    *os << kNames[static_cast<int>(k.which)];
    if (k.isNode()) *os << "(" << k.index << ")";
    if (k.isSmaller()) *os << "(" << k.index << ", " << k.count << ")";
}

void PrintTo(const RingHit& hit, std::ostream* os) {
    static const char* const kNames[] = {"segment", "center", "none"};
    *os << kNames[static_cast<int>(hit.which)];
    if (hit.which == RingHit::Case::segment) *os << "(" << hit.index << ")";
}

}  // namespace ringkit

namespace ringkit::testing {

using quenwick::NodeFlags;
using Kind = RingSegment::Kind;

FileTree::Node addDir(FileTree& tree, FileTree::Node parent, const std::string& name) {
    return tree.append(parent, name, 0, 0, tree.count(), NodeFlags::directory);
}

FileTree::Node addFile(FileTree& tree, FileTree::Node parent, const std::string& name,
                       uint64_t size) {
    return tree.append(parent, name, size, 0, tree.count(), {});
}

FileTree randomTree(uint64_t seed, size_t maxNodes) {
    std::mt19937_64 rng(seed);
    const auto chance = [&](double p) { return std::uniform_real_distribution<>(0, 1)(rng) < p; };
    const auto pick = [&](uint64_t lo, uint64_t hi) {
        return std::uniform_int_distribution<uint64_t>(lo, hi)(rng);
    };
    FileTree tree("/r");
    std::vector<FileTree::Node> dirs{FileTree::root};
    const size_t nodes = pick(1, std::max<size_t>(maxNodes, 2));
    const bool huge = chance(0.1);
    long double sum = 0;
    while (tree.count() < nodes) {
        // Often the newest folder, so chains run deep; otherwise anywhere.
        const auto parent = chance(0.35) ? dirs.back() : dirs[pick(0, dirs.size() - 1)];
        const std::string name = "n" + std::to_string(tree.count());
        if (chance(0.25)) {
            dirs.push_back(addDir(tree, parent, name));
            continue;
        }
        if (chance(0.03)) {  // a crowd of tiny files
            const uint64_t crowd = pick(20, 400);
            for (uint64_t i = 0; i < crowd && tree.count() < nodes; ++i)
                addFile(tree, parent, name + "." + std::to_string(i), pick(0, 3));
            continue;
        }
        uint64_t size;
        const double kind = std::uniform_real_distribution<>(0, 1)(rng);
        if (kind < 0.1) {
            size = 0;
        } else if (kind < 0.5) {
            size = pick(1, 100);
        } else if (kind < 0.8) {
            size = pick(1000, 1'000'000);
        } else {
            size = pick(1'000'000, 1'000'000'000'000);
        }
        if (huge) size = pick(0, std::numeric_limits<uint64_t>::max() / (nodes + 1));
        sum += size;
        addFile(tree, parent, name, size);
    }
    if (huge && sum < static_cast<long double>(std::numeric_limits<uint64_t>::max())) {
        // Top the whole tree up to exactly 2^64 - 1.
        uint64_t have = 0;
        for (size_t n = 1; n < tree.count(); ++n)
            if (!tree.isDirectory(n)) have += tree.size(n);
        addFile(tree, dirs[pick(0, dirs.size() - 1)], "top-up",
                std::numeric_limits<uint64_t>::max() - have);
    }
    tree.propagateSizes();
    return tree;
}

void scrambleFolderSizes(FileTree& tree, uint64_t seed) {
    std::mt19937_64 rng(seed);
    auto& sizes = tree.mutableStorage().sizes;
    for (size_t n = 0; n < tree.count(); ++n) {
        if (!tree.isDirectory(n) || rng() % 3 != 0) continue;
        switch (rng() % 3) {
            case 0:
                sizes[n] = sizes[n] / 3;
                break;
            case 1:
                sizes[n] = rng();
                break;
            default:
                sizes[n] = std::numeric_limits<uint64_t>::max() - rng() % 1000;
                break;
        }
    }
}

namespace {

constexpr double kCircle = RingLayout::fullCircle;
constexpr double kTolerance = 1e-12;
// Rounding of the running cursor over a few hundred siblings stays far below this.
constexpr double kSpanTolerance = 1e-11;

std::string describe(size_t i, const RingSegment& s, const std::string& what) {
    return "segment " + std::to_string(i) + " (depth " + std::to_string(s.depth) + ", " +
           std::to_string(s.start) + ".." + std::to_string(s.end) + ", kind " +
           std::to_string(static_cast<int>(s.kind.which)) + "/" + std::to_string(s.kind.index) +
           "): " + what;
}

uint64_t saturatingAdd(uint64_t a, uint64_t b) {
    return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max()
                                                        : a + b;
}

}  // namespace

std::string brokenPromise(const LayoutCheck& c, std::span<const RingSegment> segments) {
    double total = static_cast<double>(c.tree.size(c.focus));
    for (const auto& e : c.extras)
        total += static_cast<double>(e.bytes);
    if (total == 0 || c.maxDepth < 1) {
        return segments.empty() ? "" : "expected no arcs at all";
    }
    const double perByte = kCircle / total;
    const double minAngle = c.minAngle >= 0 ? c.minAngle : 0;
    const double focusEnd = std::min(perByte * static_cast<double>(c.tree.size(c.focus)), kCircle);

    // The arc enclosing the next deeper ring, per depth; -1 stands for the focus itself.
    std::vector<long> open;
    std::vector<double> ringEnd(static_cast<size_t>(c.maxDepth) + 2, 0.0);
    std::map<long, std::vector<size_t>> childrenOf;  // enclosing arc -> arcs directly inside
    size_t extrasAt = segments.size();
    for (size_t i = 0; i < segments.size(); ++i) {
        const auto& s = segments[i];
        const auto fail = [&](const std::string& what) { return describe(i, s, what); };
        if (!std::isfinite(s.start) || !std::isfinite(s.end)) return fail("angle not finite");
        if (!(0 <= s.start && s.start <= s.end && s.end <= kCircle)) return fail("out of range");
        if (s.depth < 1 || s.depth > c.maxDepth) return fail("depth beyond the limit");
        const bool extra = !s.kind.isNode() && !s.kind.isSmaller();
        if (extra) {
            if (s.depth != 1 || s.branch != -1) return fail("extra off ring 1 or with a branch");
            extrasAt = std::min(extrasAt, i);
        } else if (extrasAt < i) {
            return fail("tree arc after an extra");
        }
        if (s.start < ringEnd[s.depth]) return fail("overlaps the previous arc of its ring");
        ringEnd[s.depth] = s.end;
        if (extra) continue;

        if (open.size() + 1 < static_cast<size_t>(s.depth)) return fail("no enclosing arc");
        open.resize(static_cast<size_t>(s.depth) - 1);
        const long enclosing = s.depth == 1 ? -1 : open.back();
        if (enclosing == -2) return fail("inside an arc that cannot have children");
        const FileTree::Node folder =
            enclosing < 0 ? c.focus : segments[static_cast<size_t>(enclosing)].kind.index;
        const double lo = enclosing < 0 ? 0.0 : segments[static_cast<size_t>(enclosing)].start;
        const double hi = enclosing < 0 ? focusEnd : segments[static_cast<size_t>(enclosing)].end;
        if (s.start < lo || s.end > hi) return fail("outside its parent's arc");
        if (enclosing >= 0 && (c.tree.isDirectory(folder) == false))
            return fail("inside a file's arc");
        if (s.kind.isSmaller()) {
            if (s.kind.index != folder) return fail("smaller arc names another folder");
            if (s.branch != -1) return fail("smaller arc with a branch");
        } else {
            if (s.kind.index >= c.tree.count() || c.tree.parent(s.kind.index) != folder)
                return fail("node is not a child of the enclosing folder");
            if (s.bytes != c.tree.size(s.kind.index)) return fail("bytes differ from the tree");
            const int64_t expected =
                enclosing >= 0 ? segments[static_cast<size_t>(enclosing)].branch : -1;
            if (enclosing >= 0 && s.branch != expected) return fail("branch not inherited");
            if (c.consistent && s.span() < minAngle - kTolerance) return fail("narrower than min");
        }
        if (c.consistent &&
            std::abs(s.span() - perByte * static_cast<double>(s.bytes)) > kSpanTolerance)
            return fail("span not proportional to bytes");
        childrenOf[enclosing].push_back(i);
        open.push_back(s.kind.isNode() ? static_cast<long>(i) : -2);
    }

    // Every child of each drawn folder (and of the focus) is an arc or part of the smaller arc,
    // in size order, back to back from the folder's start.
    const auto account = [&](long enclosing, FileTree::Node folder, double start,
                             int depth) -> std::string {
        const auto& inside = childrenOf[enclosing];
        size_t k = 0;
        uint64_t smallBytes = 0;
        int64_t smallCount = 0;
        const auto order = c.tree.childrenBySize(folder);
        for (size_t position = 0; position < order.size(); ++position) {
            const auto child = order[position];
            const uint64_t bytes = c.tree.size(child);
            if (bytes == 0) continue;
            if (perByte * static_cast<double>(bytes) < minAngle) {
                smallBytes = saturatingAdd(smallBytes, bytes);
                ++smallCount;
                continue;
            }
            if (k >= inside.size() || segments[inside[k]].kind != Kind::node(child))
                return "folder " + std::to_string(folder) + " lacks an arc for child " +
                       std::to_string(child);
            if (depth == 1 && segments[inside[k]].branch != static_cast<int64_t>(position))
                return "ring-1 branch is not the child's position";
            ++k;
        }
        if (smallBytes > 0) {
            if (k >= inside.size() ||
                segments[inside[k]].kind != Kind::smaller(folder, smallCount) ||
                segments[inside[k]].bytes != smallBytes)
                return "folder " + std::to_string(folder) + " lacks its smaller arc";
            ++k;
        }
        if (k != inside.size()) return "folder " + std::to_string(folder) + " has extra arcs";
        double cursor = start;
        for (auto i : inside) {
            if (segments[i].start != cursor) return "arcs in folder not back to back";
            cursor = segments[i].end;
        }
        return "";
    };
    if (auto broken = account(-1, c.focus, 0.0, 1); !broken.empty()) return broken;
    for (size_t i = 0; i < extrasAt; ++i) {
        const auto& s = segments[i];
        if (!s.kind.isNode() || s.depth >= c.maxDepth || !c.tree.isDirectory(s.kind.index))
            continue;
        if (auto broken = account(static_cast<long>(i), s.kind.index, s.start, s.depth + 1);
            !broken.empty())
            return broken;
    }

    // The extras: in the given order, without the empty ones, straight after ring 1's arcs.
    double cursor = 0;
    for (auto i : childrenOf[-1])
        cursor = segments[i].end;
    size_t e = extrasAt;
    for (const auto& x : c.extras) {
        if (x.bytes == 0) continue;
        if (e >= segments.size() || segments[e].kind != x.kind || segments[e].bytes != x.bytes)
            return "extra missing or out of order";
        if (segments[e].start != cursor) return "extra not straight after the previous arc";
        cursor = segments[e++].end;
    }
    if (e != segments.size()) return "unexpected arcs after the extras";
    return "";
}

}  // namespace ringkit::testing
