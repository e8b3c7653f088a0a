#include "Shoreline/Shoreline.h"

#include <algorithm>

#include "PathText.h"
#include "Shoreline/AppCachesRule.h"
#include "Shoreline/DeviceBackupsRule.h"
#include "Shoreline/DuplicatesRule.h"
#include "Shoreline/InstallersRule.h"
#include "Shoreline/LargeOldFilesRule.h"
#include "Shoreline/LogsRule.h"
#include "Shoreline/OldDownloadsRule.h"
#include "Shoreline/PackageCachesRule.h"
#include "Shoreline/ProjectDependenciesRule.h"
#include "Shoreline/XcodeRule.h"

namespace shoreline::Shoreline {
namespace {

using quenwick::PathRules::overlaps;

}  // namespace

const std::vector<std::unique_ptr<Rule>>& rules() {
    static const std::vector<std::unique_ptr<Rule>> registry = [] {
        std::vector<std::unique_ptr<Rule>> r;
        r.push_back(std::make_unique<AppCachesRule>());
        r.push_back(std::make_unique<LogsRule>());
        r.push_back(std::make_unique<XcodeRule>());
        r.push_back(std::make_unique<PackageCachesRule>());
        r.push_back(std::make_unique<ProjectDependenciesRule>());
        r.push_back(std::make_unique<InstallersRule>());
        r.push_back(std::make_unique<OldDownloadsRule>());
        r.push_back(std::make_unique<DuplicatesRule>());
        r.push_back(std::make_unique<LargeOldFilesRule>());
        r.push_back(std::make_unique<DeviceBackupsRule>());
        return r;
    }();
    return registry;
}

std::vector<ShorelineCategory> analyze(const ShorelineContext& ctx) {
    std::vector<const Rule*> all;
    for (const auto& rule : rules())
        all.push_back(rule.get());
    return analyze(ctx, all);
}

std::vector<ShorelineCategory> analyze(const ShorelineContext& ctx,
                                       const std::vector<const Rule*>& ruleList) {
    std::vector<ShorelineCategory> categories;
    if (!ctx.tree) return categories;
    const auto& tree = *ctx.tree;
    std::vector<std::string> claimed;
    for (const Rule* rule : ruleList) {
        std::vector<Finding> findings;
        for (const auto& candidate : rule->candidates(ctx)) {
            if (candidate.node >= tree.count()) continue;
            std::string path = tree.path(candidate.node);
            const auto overlapsPath = [&](const std::string& c) { return overlaps(path, c); };
            if (std::any_of(claimed.begin(), claimed.end(), overlapsPath)) continue;
            // The app's own caches and data are never offered, nor anything that would take
            // them along.
            if (std::any_of(ctx.ownFolders.begin(), ctx.ownFolders.end(), overlapsPath)) continue;
            auto verdict = ctx.guardian.check(path);
            const auto* removal = verdict.allowed();
            if (removal == nullptr) continue;
            claimed.push_back(path);
            findings.push_back(Finding{std::move(path), std::string(tree.nameBytes(candidate.node)),
                                       tree.size(candidate.node), candidate.safety,
                                       candidate.reason, *removal});
        }
        if (findings.empty()) continue;
        std::stable_sort(findings.begin(), findings.end(),
                         [](const Finding& a, const Finding& b) { return a.bytes > b.bytes; });
        categories.push_back(ShorelineCategory{rule->id(), rule->title(), rule->symbol(),
                                               rule->blurb(), std::move(findings)});
    }
    std::stable_sort(categories.begin(), categories.end(),
                     [](const ShorelineCategory& a, const ShorelineCategory& b) {
                         return a.total() > b.total();
                     });
    return categories;
}

}  // namespace shoreline::Shoreline
