#include "Shoreline/LogsRule.h"

namespace shoreline {

std::vector<Candidate> LogsRule::candidates(const ShorelineContext& ctx) const {
    constexpr uint64_t kMiB = 1'048'576;
    std::vector<Candidate> out;
    for (const auto child : ctx.children("Library/Logs")) {
        if (ctx.tree->size(child) >= kMiB)
            out.push_back({child, Safety::safe, "Log files — apps start new ones as needed."});
    }
    return out;
}

}  // namespace shoreline
