#include "Shoreline/LargeOldFilesRule.h"

#include "Shoreline/DuplicatesRule.h"
#include "Shoreline/UserFiles.h"

namespace shoreline {

std::vector<Candidate> LargeOldFilesRule::candidates(const ShorelineContext& ctx) const {
    std::vector<Candidate> out;
    for (const auto file : UserFiles::walk(ctx, ctx.largeFileMinBytes)) {
        if (DuplicatesRule::inManagedLibrary(ctx.tree->path(file), ctx)) continue;
        const int64_t days = ctx.idleDays(file);
        if (days > 179)
            out.push_back(
                {file, Safety::caution, "Not opened in " + ctx.groupedNumber(days) + " days."});
    }
    return out;
}

}  // namespace shoreline
