#include "Shoreline/XcodeRule.h"

namespace shoreline {

std::vector<Candidate> XcodeRule::candidates(const ShorelineContext& ctx) const {
    constexpr uint64_t kMiB = 1'048'576;
    const auto& tree = *ctx.tree;
    std::vector<Candidate> out;
    for (const auto child : ctx.children("Library/Developer/Xcode/DerivedData")) {
        if (tree.size(child) >= kMiB)
            out.push_back(
                {child, Safety::safe, "Build products — Xcode rebuilds them on the next build."});
    }
    for (const char* platform : {"iOS", "watchOS", "tvOS", "visionOS"}) {
        const std::string folder =
            std::string("Library/Developer/Xcode/") + platform + " DeviceSupport";
        for (const auto child : ctx.children(folder)) {
            const int64_t age = ctx.ageInDays(child);
            if (age > 89)
                out.push_back({child, Safety::review,
                               "Debug symbols last used " + ctx.agePhrase(age) +
                                   " ago — re-downloaded when that device connects."});
        }
    }
    for (const auto dateFolder : ctx.children("Library/Developer/Xcode/Archives")) {
        for (const auto archive : tree.children(dateFolder)) {
            const int64_t age = ctx.ageInDays(archive);
            if (age > 179)
                out.push_back({archive, Safety::review,
                               "App archive from " + ctx.agePhrase(age) +
                                   " ago — keep it if you still symbolicate crashes from that "
                                   "release."});
        }
    }
    const auto simulator = ctx.node("Library/Developer/CoreSimulator/Caches");
    if (simulator != quenwick::FileTree::none && tree.size(simulator) >= kMiB)
        out.push_back({simulator, Safety::safe, "Simulator cache — rebuilt automatically."});
    return out;
}

}  // namespace shoreline
