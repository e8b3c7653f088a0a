#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Shoreline/Finding.h"

// One card of suggestions: the findings of one rule, largest first, under the rule's id, title,
// symbol and blurb. Its identity is `id`. A plain value.
namespace shoreline {

struct ShorelineCategory {
    std::string id;
    std::string title;
    std::string symbol;  // the name of the symbol image drawn on the card
    std::string blurb;
    std::vector<Finding> findings;

    // Sum of the findings' bytes, and of those whose safety is `safe`.
    [[nodiscard]] uint64_t total() const;
    [[nodiscard]] uint64_t safeTotal() const;

    bool operator==(const ShorelineCategory&) const = default;
};

}  // namespace shoreline
