#include "Shoreline/ShorelineCategory.h"

namespace shoreline {

uint64_t ShorelineCategory::total() const {
    uint64_t sum = 0;
    for (const auto& f : findings)
        sum += f.bytes;
    return sum;
}

uint64_t ShorelineCategory::safeTotal() const {
    uint64_t sum = 0;
    for (const auto& f : findings)
        if (f.safety == Safety::safe) sum += f.bytes;
    return sum;
}

}  // namespace shoreline
