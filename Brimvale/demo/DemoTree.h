#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "QuenwickCore/FileTree.h"

// The fictional startup disk's tree, built by DemoMachine. Deterministic for a reference time:
// every file time is counted back from it, every size and name drawn from a fixed seed.
namespace brimvale::demo {

struct BuiltTree {
    std::shared_ptr<quenwick::FileTree> tree;
    // Pairs of (kept, copy) with the same contents.
    std::vector<std::pair<std::string, std::string>> duplicates;
};

[[nodiscard]] BuiltTree buildTree(const std::string& home, int64_t now);

// A copy of the subtree at path, rooted there; nullptr when the path is not a live folder.
[[nodiscard]] std::shared_ptr<quenwick::FileTree> subtree(const quenwick::FileTree& tree,
                                                          const std::string& path);

}  // namespace brimvale::demo
