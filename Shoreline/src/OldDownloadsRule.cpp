#include "Shoreline/OldDownloadsRule.h"

namespace shoreline {

std::vector<Candidate> OldDownloadsRule::candidates(const ShorelineContext& ctx) const {
    constexpr uint64_t kMiB = 1'048'576;
    std::vector<Candidate> out;
    for (const auto& folder : ctx.standardFolders("Downloads", "DOWNLOAD")) {
        for (const auto child : ctx.childrenAt(folder)) {
            if (ctx.tree->size(child) < kMiB) continue;
            const int64_t days = ctx.idleDays(child);
            if (days > 89)
                out.push_back(
                    {child, Safety::review, "Not opened in " + ctx.groupedNumber(days) + " days."});
        }
    }
    return out;
}

}  // namespace shoreline
