#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "QuenwickCore/FileTree.h"
#include "RingKit/RingHit.h"
#include "RingKit/RingLayout.h"

// Readable test failures.
namespace ringkit {
void PrintTo(const RingSegment::Kind& kind, std::ostream* os);
void PrintTo(const RingHit& hit, std::ostream* os);
}  // namespace ringkit

// Trees for the ring tests, and the promises every layout must keep, checked from the outside.
namespace ringkit::testing {

using quenwick::FileTree;

// Small helpers to spell a tree out in a test.
FileTree::Node addDir(FileTree& tree, FileTree::Node parent, const std::string& name);
FileTree::Node addFile(FileTree& tree, FileTree::Node parent, const std::string& name,
                       uint64_t size);

// A random tree with rolled-up sizes: a mix of a few big items, crowds of tiny files, zero-byte
// items, empty folders, deep chains and, now and then, sizes near 2^64 / 2^k.
FileTree randomTree(uint64_t seed, size_t maxNodes);

// Overwrites some folders' sizes with values that disagree with their children (as a damaged or
// wrapped-around tree would have).
void scrambleFolderSizes(FileTree& tree, uint64_t seed);

struct LayoutCheck {
    const FileTree& tree;
    FileTree::Node focus;
    int maxDepth;
    double minAngle;
    std::span<const RingLayout::Extra> extras;
    // Folder sizes equal the sum of their children: then arcs must also be proportional, wide
    // enough and complete.
    bool consistent = true;
};

// The first broken promise of `segments` as a laid-out ring, or "" when all hold: finite angles
// in [0, 2π], depth 1..maxDepth, pre-order with each arc inside its parent's arc, no overlap on
// a ring, branches; and for consistent trees also proportional spans, minimum widths, every
// child of a drawn folder accounted for exactly once, and smaller counts.
std::string brokenPromise(const LayoutCheck& check, std::span<const RingSegment> segments);

}  // namespace ringkit::testing
