#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "QuenwickCore/FileTree.h"
#include "RingKit/RingSegment.h"

// The text people see for an arc. Pure, any thread that may read the tree.
namespace ringkit {

// A node's display name (rootTitle for the tree's root, "" for an index not in the tree),
// "<count> smaller items", "Hidden & system space" or "Purgeable (the system frees this itself)".
[[nodiscard]] std::string ringLabel(const quenwick::FileTree& tree, const RingSegment::Kind& kind,
                                    std::string_view rootTitle);

// A whole number with its thousands grouped: "12,345".
[[nodiscard]] std::string formatCount(int64_t count);

}  // namespace ringkit
