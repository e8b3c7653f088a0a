#include "Shoreline/DeviceBackupsRule.h"

namespace shoreline {

std::vector<Candidate> DeviceBackupsRule::candidates(const ShorelineContext& ctx) const {
    std::vector<Candidate> out;
    for (const auto backup : ctx.children("Library/Application Support/MobileSync/Backup")) {
        const int64_t age = ctx.ageInDays(backup);
        if (age > 364)
            out.push_back({backup, Safety::caution,
                           "Device backup last updated " + ctx.agePhrase(age) + " ago."});
    }
    return out;
}

}  // namespace shoreline
