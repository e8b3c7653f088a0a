#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>

#include "QuenwickCore/FileTree.h"

// The report that `scan` and `load` print for a tree: totals and the biggest items directly
// inside the root, as aligned text or as JSON. Reads the tree only.
namespace brimvale::cli {

struct ScanReport {
    const quenwick::FileTree& tree;
    int top = 20;
    int64_t elapsedMs = 0;

    [[nodiscard]] nlohmann::ordered_json json() const;
    void print() const;
};

}  // namespace brimvale::cli
