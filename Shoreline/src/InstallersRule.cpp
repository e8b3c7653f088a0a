#include "Shoreline/InstallersRule.h"

#include "PathText.h"

namespace shoreline {

const std::set<std::string, std::less<>>& InstallersRule::extensions() {
    // deb and rpm are Linux's installer packages; an AppImage is the app itself, so it is absent.
    static const std::set<std::string, std::less<>> set = {"dmg", "pkg", "mpkg", "xip",
                                                           "iso", "deb", "rpm"};
    return set;
}

std::vector<Candidate> InstallersRule::candidates(const ShorelineContext& ctx) const {
    std::vector<Candidate> out;
    for (const auto& folder : ctx.standardFolders("Downloads", "DOWNLOAD")) {
        for (const auto child : ctx.childrenAt(folder)) {
            if (!extensions().contains(detail::lowerExtension(ctx.tree->nameBytes(child))))
                continue;
            const int64_t age = ctx.ageInDays(child);
            if (age > 13)
                out.push_back({child, Safety::review,
                               "Installer downloaded " + ctx.agePhrase(age) +
                                   " ago — the app is probably installed by now."});
        }
    }
    return out;
}

}  // namespace shoreline
