#include "demo/DemoMachine.h"

#include <cmath>

#include "QuenwickCore/PathRules.h"
#include "Shoreline/Rule.h"
#include "Shoreline/Shoreline.h"
#include "Shoreline/ShorelineContext.h"
#include "demo/DemoTree.h"

namespace brimvale {
namespace {

using quenwick::FileTree;
using quenwick::TideSummary;

constexpr double kDay = 86'400;
constexpr uint64_t GB = 1'000'000'000;

// Where the fictional disk grew, and how many bytes fewer each folder held `d` days ago.
struct GrowingFolder {
    const char* relative;  // below home
    uint64_t bytes;        // grown over the whole history
    int startDay;          // days ago the growth began (steps happen at once)
    bool step;
};
constexpr GrowingFolder kGrowth[] = {
    {"Videos/Screen recordings", 9 * GB, 10, false},
    {"Projects", 14 * GB, 90, false},
    {".cache", 6 * GB, 90, false},
    {"Pictures/2026", 9 * GB, 90, false},
    {"Downloads", 8 * GB, 90, false},
    {".local/share/Steam", 22 * GB, 55, true},
};

uint64_t missingOn(const GrowingFolder& g, int daysAgo) {
    if (daysAgo >= g.startDay) return g.bytes;
    if (g.step) return 0;
    return static_cast<uint64_t>(static_cast<double>(g.bytes) * daysAgo / g.startDay);
}

// A small, repeatable wobble so the chart does not look ruled.
int64_t wobble(int daysAgo) {
    return static_cast<int64_t>(std::sin(daysAgo * 1.7) * 0.35e9 +
                                std::cos(daysAgo * 0.45) * 0.2e9);
}

std::vector<TideSummary> makeHistory(const FileTree& tree, const quenwick::VolumeInfo& volume,
                                     const std::string& home, double now) {
    const std::vector<std::string> roots{home, "/usr", "/opt", "/var/lib/flatpak"};
    const TideSummary latest = TideSummary::make(
        tree, roots, volume, now, TideSummary::recordMinBytes, TideSummary::recordMaxDepth);
    std::vector<TideSummary> out;
    for (int d = DemoMachine::historyDays - 1; d >= 0; --d) {
        TideSummary s = latest;
        s.date = now - d * kDay;
        uint64_t less = 0;
        for (const auto& g : kGrowth)
            less += missingOn(g, d);
        const int64_t used = static_cast<int64_t>(latest.volumeUsed - less) + (d ? wobble(d) : 0);
        s.volumeUsed = static_cast<uint64_t>(std::max<int64_t>(used, 0));
        for (auto& [path, bytes] : s.folders) {
            uint64_t fewer = 0;
            for (const auto& g : kGrowth) {
                const std::string root = home + "/" + g.relative;
                const auto rootNode = tree.nodeAtPath(root);
                if (!rootNode) continue;
                const uint64_t missing = missingOn(g, d);
                if (quenwick::PathRules::isAtOrBelow(path, root)) {
                    fewer += static_cast<uint64_t>(static_cast<double>(missing) * bytes /
                                                   std::max<uint64_t>(tree.size(*rootNode), 1));
                } else if (quenwick::PathRules::isAtOrBelow(root, path)) {
                    fewer += missing;
                }
            }
            bytes -= std::min(bytes, fewer);
        }
        out.push_back(std::move(s));
    }
    return out;
}

// The duplicate finder reads files; the fictional files have known contents instead.
class DemoDuplicatesRule : public shoreline::Rule {
public:
    DemoDuplicatesRule(const shoreline::Rule& real, std::vector<DemoMachine::Duplicate> pairs)
        : Rule(real.id(), real.title(), real.symbol(), real.blurb()), pairs_(std::move(pairs)) {}

    std::vector<shoreline::Candidate> candidates(
        const shoreline::ShorelineContext& ctx) const override {
        std::vector<shoreline::Candidate> out;
        for (const auto& pair : pairs_) {
            const auto kept = ctx.nodeAt(pair.kept);
            const auto copy = ctx.nodeAt(pair.copy);
            if (kept == FileTree::none || copy == FileTree::none) continue;
            out.push_back(
                {copy, shoreline::Safety::review,
                 "Identical to ~" + pair.kept.substr(ctx.home.size()) + ", which is kept."});
        }
        return out;
    }

private:
    std::vector<DemoMachine::Duplicate> pairs_;
};

}  // namespace

std::shared_ptr<const DemoMachine> DemoMachine::make(Clock::time_point now) {
    auto machine = std::shared_ptr<DemoMachine>(new DemoMachine());
    machine->now_ = now;
    const int64_t seconds =
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    auto built = demo::buildTree(home, seconds);
    for (auto& [kept, copy] : built.duplicates)
        machine->duplicates_.push_back({std::move(kept), std::move(copy)});
    const uint64_t used = static_cast<uint64_t>(diskBytes * fullness);
    const uint64_t scanned = built.tree->size(FileTree::root);
    machine->hiddenBytes_ = used > scanned ? used - scanned : 0;
    machine->tree_ = std::move(built.tree);
    machine->history_ =
        makeHistory(*machine->tree_, machine->volume(), home, static_cast<double>(seconds));
    return machine;
}

AppEnvironment DemoMachine::environment() const {
    AppEnvironment env;
    env.home = home;
    env.dataHome = env.home + "/.local/share";
    env.cacheHome = env.home + "/.cache";
    env.configHome = env.home + "/.config";
    env.startupDiskName = "Startup Disk";
    return env;
}

std::shared_ptr<FileTree> DemoMachine::tree() const {
    return tree_->clone();
}

std::shared_ptr<FileTree> DemoMachine::tree(const std::string& root) const {
    if (root == "/") return tree();
    auto part = demo::subtree(*tree_, root);
    return part ? part : tree();
}

quenwick::VolumeInfo DemoMachine::volume(uint64_t removed) const {
    const uint64_t used = static_cast<uint64_t>(diskBytes * fullness);
    const uint64_t available = diskBytes - used + std::min(removed, used);
    return {diskBytes, available, available};
}

quenwick::DeletionGuard DemoMachine::guard() const {
    return quenwick::DeletionGuard(
        home, "/usr/bin/brimvale", [](const std::string&) { return false; },
        quenwick::DeletionGuard::UserFolders::defaultsFor(home));
}

std::vector<shoreline::ShorelineCategory> DemoMachine::suggestions(
    std::shared_ptr<const FileTree> tree) const {
    const AppEnvironment env = environment();
    shoreline::ShorelineContext ctx(std::move(tree), home, guard());
    ctx.now = now_;
    ctx.lastUsed = [](const std::string&) { return std::optional<Clock::time_point>(); };
    ctx.cacheHome = env.cacheHome;
    ctx.dataHome = env.dataHome;
    ctx.userDirs.clear();
    ctx.ownFolders = {env.cacheHome + "/Brimvale", env.dataHome + "/Brimvale"};

    std::unique_ptr<DemoDuplicatesRule> duplicates;
    std::vector<const shoreline::Rule*> rules;
    for (const auto& rule : shoreline::Shoreline::rules()) {
        if (rule->id() == "duplicates") {
            duplicates = std::make_unique<DemoDuplicatesRule>(*rule, duplicates_);
            rules.push_back(duplicates.get());
        } else {
            rules.push_back(rule.get());
        }
    }
    return shoreline::Shoreline::analyze(ctx, rules);
}

uint64_t DemoMachine::trashBytes(const FileTree& tree) const {
    const auto trash = tree.nodeAtPath(std::string(home) + "/.local/share/Trash");
    return trash ? tree.size(*trash) : 0;
}

}  // namespace brimvale
