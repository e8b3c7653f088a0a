#pragma once

#include <cstdint>
#include <string>

#include "QuenwickCore/GuardVerdict.h"
#include "Shoreline/Safety.h"

// An accepted suggestion: a node that no earlier finding overlaps and that the deletion guard
// allows, with the guard's removal ticket (and its optional caution). `path` and `name` are exact
// bytes (decode with quenwick::utf8::display to show them); `bytes` is the node's size in the
// tree, rolled up for a folder. Its identity in lists is `path`. A plain value.
namespace shoreline {

struct Finding {
    std::string path;
    std::string name;
    uint64_t bytes = 0;
    Safety safety = Safety::review;
    std::string reason;
    quenwick::GuardedRemoval removal;

    bool operator==(const Finding&) const = default;
};

}  // namespace shoreline
