#include <gtest/gtest.h>

#include "FakeHome.h"
#include "Shoreline/AppCachesRule.h"
#include "Shoreline/LogsRule.h"
#include "Shoreline/PackageCachesRule.h"
#include "Shoreline/ProjectDependenciesRule.h"
#include "Shoreline/Shoreline.h"
#include "Shoreline/XcodeRule.h"

namespace shoreline {
namespace {

using testing::FakeHome;
using testing::findingPaths;
using testing::kMiB;
using testing::relativePaths;
using testing::TreeBuilder;
using Paths = std::vector<std::string>;

constexpr uint64_t kBlock = 4096;

TEST(AppCachesRule, LibraryCachesFromOneMiBUpAppleOnesForReviewRunningAppsLeftAlone) {
    FakeHome home;
    home.file("Library/Caches/org.small/blob", kMiB - kBlock);
    home.file("Library/Caches/org.exact/blob", kMiB);
    home.file("Library/Caches/com.apple.Safari/blob", 2 * kMiB);
    home.file("Library/Caches/org.busy.app/blob", 2 * kMiB);
    auto ctx = home.context();
    ctx.runningBundleIDs = {"org.busy.app"};
    const auto candidates = AppCachesRule().candidates(ctx);
    const auto paths = relativePaths(ctx, candidates);
    ASSERT_EQ(paths.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        if (paths[i] == "Library/Caches/org.exact") {
            EXPECT_EQ(candidates[i].safety, Safety::safe);
            EXPECT_EQ(candidates[i].reason, "Cache — the app rebuilds it when it needs it.");
        } else {
            EXPECT_EQ(paths[i], "Library/Caches/com.apple.Safari");
            EXPECT_EQ(candidates[i].safety, Safety::review);
            EXPECT_EQ(candidates[i].reason,
                      "macOS cache — safe to clear, but macOS often rebuilds it straight away.");
        }
    }
}

TEST(AppCachesRule, OneMiBIsInclusiveToTheByte) {
    TreeBuilder home("/home/ann");
    home.add("Library/Caches/under/x", kMiB - 1);
    home.add("Library/Caches/exact/x", kMiB);
    home.add("Library/Logs/under/x", kMiB - 1);
    home.add("Library/Logs/exact/x", kMiB);
    auto ctx = home.context();
    EXPECT_EQ(relativePaths(ctx, AppCachesRule().candidates(ctx)), Paths{"Library/Caches/exact"});
    const auto logs = LogsRule().candidates(ctx);
    EXPECT_EQ(relativePaths(ctx, logs), Paths{"Library/Logs/exact"});
    EXPECT_EQ(logs[0].reason, "Log files — apps start new ones as needed.");
    EXPECT_EQ(logs[0].safety, Safety::safe);
}

TEST(AppCachesRule, ContainerCachesFromFiveMiBAreProposedNotTheContainer) {
    FakeHome home;
    home.file("Library/Containers/org.notes/Data/Library/Caches/blob", 5 * kMiB);
    home.file("Library/Containers/org.small/Data/Library/Caches/blob", 5 * kMiB - kBlock);
    home.file("Library/Containers/org.nocache/Data/Library/Preferences/big", 8 * kMiB);
    home.file("Library/Containers/com.apple.mail/Data/Library/Caches/blob", 6 * kMiB);
    home.file("Library/Containers/org.running/Data/Library/Caches/blob", 6 * kMiB);
    auto ctx = home.context();
    ctx.runningBundleIDs = {"org.running"};
    const auto candidates = AppCachesRule().candidates(ctx);
    std::map<std::string, Candidate> byPath;
    const auto paths = relativePaths(ctx, candidates);
    for (size_t i = 0; i < paths.size(); ++i)
        byPath.emplace(paths[i], candidates[i]);
    ASSERT_EQ(byPath.size(), 2u);
    const auto& notes = byPath.at("Library/Containers/org.notes/Data/Library/Caches");
    EXPECT_EQ(notes.safety, Safety::safe);
    EXPECT_EQ(notes.reason, "Cache for org.notes — rebuilt when needed.");
    const auto& mail = byPath.at("Library/Containers/com.apple.mail/Data/Library/Caches");
    EXPECT_EQ(mail.safety, Safety::review);
    EXPECT_EQ(mail.reason,
              "Cache for a macOS service — safe to clear, but it often rebuilds straight away.");
}

TEST(AppCachesRule, XdgCacheFolderHoldsAppCachesButLeavesOthersPathsAndUserData) {
    FakeHome home;
    home.file(".cache/mozilla/firefox/cache2", 2 * kMiB);
    home.file(".cache/thumbnails/large/a.png", 2 * kMiB);
    home.file(".cache/JetBrains/IdeaIC/index", 2 * kMiB);
    home.file(".cache/firefox/x", 2 * kMiB);  // named like a running program
    home.file(".cache/pip/http/blob", 12 * kMiB);
    home.file(".cache/huggingface/hub/model.safetensors", 14 * kMiB);
    home.file(".cache/torch/hub/checkpoints/weights.pth", 2 * kMiB);
    home.file(".cache/containers/storage/layer", 3 * kMiB);
    home.file(".cache/Brimvale/Erasing/old", 3 * kMiB);
    home.file(".cache/tiny/x", kMiB - kBlock);
    auto ctx = home.context();
    ctx.runningBundleIDs = {"firefox"};
    const auto categories = Shoreline::analyze(ctx);
    auto caches = findingPaths(ctx, categories, "caches");
    std::sort(caches.begin(), caches.end());
    EXPECT_EQ(caches, (Paths{".cache/JetBrains", ".cache/mozilla", ".cache/thumbnails"}));
    // Downloaded model weights stay with the package rule, for review; under its 10 MiB limit
    // nobody proposes them.
    EXPECT_EQ(findingPaths(ctx, categories, "packages"),
              (Paths{".cache/huggingface", ".cache/pip"}));
    const auto* packages = testing::categoryOf(categories, "packages");
    ASSERT_NE(packages, nullptr);
    EXPECT_EQ(packages->findings[0].safety, Safety::review);
    EXPECT_EQ(packages->findings[0].reason,
              "Hugging Face models cache — refetched when needed, which can take a while.");
    EXPECT_EQ(packages->findings[1].safety, Safety::safe);
    EXPECT_EQ(packages->findings[1].reason, "pip download cache — refetched when needed.");
}

TEST(AppCachesRule, MovedCacheFolderIsFollowedButACacheFolderHoldingHomeIsNot) {
    FakeHome home;
    home.file("var/cache/editor/blob", 2 * kMiB);
    home.file("Projects/thesis/draft.tex", 2 * kMiB);
    auto ctx = home.context();
    ctx.cacheHome = ctx.inHome("var/cache");
    EXPECT_EQ(relativePaths(ctx, AppCachesRule().candidates(ctx)), Paths{"var/cache/editor"});
    // $XDG_CACHE_HOME=$HOME would make every folder in home look like a cache.
    ctx.cacheHome = ctx.home;
    EXPECT_TRUE(AppCachesRule().candidates(ctx).empty());
    ctx.cacheHome = ctx.inHome("var");
    ctx.dataHome = ctx.inHome("var/data");
    EXPECT_TRUE(AppCachesRule().candidates(ctx).empty());
}

TEST(AppCachesRule, FlatpakAppCachesFromFiveMiBUnlessTheAppRuns) {
    FakeHome home;
    home.file(".var/app/org.gimp.GIMP/cache/gegl/swap", 5 * kMiB);
    home.file(".var/app/org.gimp.GIMP/config/gimprc", 8 * kMiB);
    home.file(".var/app/org.small.App/cache/x", 5 * kMiB - kBlock);
    home.file(".var/app/com.spotify.Client/cache/x", 6 * kMiB);
    auto ctx = home.context();
    ctx.runningBundleIDs = {"com.spotify.Client"};
    const auto candidates = AppCachesRule().candidates(ctx);
    ASSERT_EQ(relativePaths(ctx, candidates), Paths{".var/app/org.gimp.GIMP/cache"});
    EXPECT_EQ(candidates[0].reason, "Cache for org.gimp.GIMP — rebuilt when needed.");
    EXPECT_EQ(candidates[0].safety, Safety::safe);
}

TEST(AppCachesRule, ACacheTheGuardBlocksIsDroppedAndTheOthersStay) {
    FakeHome home;
    home.file("Library/Caches/org.one/blob", 2 * kMiB);
    home.file("Library/Caches/org.two/blob", 3 * kMiB);
    auto ctx = home.context();
    const std::string blocked = home / "Library/Caches/org.two";
    ctx.guardian = quenwick::DeletionGuard(
        home.path(), "", [blocked](const std::string& p) { return p == blocked; });
    const auto categories = Shoreline::analyze(ctx);
    EXPECT_EQ(findingPaths(ctx, categories, "caches"), Paths{"Library/Caches/org.one"});
}

TEST(XcodeRule, BuildProductsSymbolsAfterNinetyDaysArchivesAfterHundredEightyDays) {
    FakeHome home;
    home.file("Library/Developer/Xcode/DerivedData/App-abc/Build/x", kMiB);
    home.file("Library/Developer/Xcode/DerivedData/Tiny-abc/x", kMiB - kBlock);
    home.file("Library/Developer/Xcode/iOS DeviceSupport/17.0 (21A329)/Symbols/x", kBlock);
    home.file("Library/Developer/Xcode/iOS DeviceSupport/17.1 (21B74)/Symbols/x", kBlock);
    home.file("Library/Developer/Xcode/watchOS DeviceSupport/10.0/Symbols/x", kBlock);
    home.file("Library/Developer/Xcode/Archives/2023-01-01/Old.xcarchive/Info.plist", kBlock);
    home.file("Library/Developer/Xcode/Archives/2023-01-01/Recent.xcarchive/Info.plist", kBlock);
    home.file("Library/Developer/CoreSimulator/Caches/dyld/x", kMiB);
    home.age("Library/Developer/Xcode/iOS DeviceSupport/17.0 (21A329)", 89);
    home.age("Library/Developer/Xcode/iOS DeviceSupport/17.1 (21B74)", 90);
    home.age("Library/Developer/Xcode/watchOS DeviceSupport/10.0", 1204);
    home.age("Library/Developer/Xcode/Archives/2023-01-01/Old.xcarchive", 180);
    home.age("Library/Developer/Xcode/Archives/2023-01-01/Recent.xcarchive", 179);
    home.age("Library/Developer/Xcode/Archives/2023-01-01", 900);
    auto ctx = home.context();
    const auto candidates = XcodeRule().candidates(ctx);
    EXPECT_EQ(relativePaths(ctx, candidates),
              (Paths{"Library/Developer/Xcode/DerivedData/App-abc",
                     "Library/Developer/Xcode/iOS DeviceSupport/17.1 (21B74)",
                     "Library/Developer/Xcode/watchOS DeviceSupport/10.0",
                     "Library/Developer/Xcode/Archives/2023-01-01/Old.xcarchive",
                     "Library/Developer/CoreSimulator/Caches"}));
    ASSERT_EQ(candidates.size(), 5u);
    EXPECT_EQ(candidates[0].reason, "Build products — Xcode rebuilds them on the next build.");
    EXPECT_EQ(candidates[1].reason,
              "Debug symbols last used 90 days ago — re-downloaded when that device connects.");
    EXPECT_EQ(candidates[1].safety, Safety::review);
    EXPECT_EQ(candidates[2].reason,
              "Debug symbols last used 1204 days ago — re-downloaded when that device "
              "connects.");
    EXPECT_EQ(candidates[3].reason,
              "App archive from 180 days ago — keep it if you still symbolicate crashes from "
              "that release.");
    EXPECT_EQ(candidates[4].reason, "Simulator cache — rebuilt automatically.");
    EXPECT_EQ(candidates[4].safety, Safety::safe);
}

TEST(PackageCachesRule, TenMiBIsInclusiveToTheByte) {
    TreeBuilder home("/home/ann");
    home.add(".npm/_cacache/index", 10 * kMiB);
    home.add(".gradle/caches/modules", 10 * kMiB - 1);
    home.add("go/pkg/mod/cache", 10 * kMiB);
    home.add(".cache/go-build/00/x", 10 * kMiB);
    home.add(".local/share/pnpm/store/v3/files", 11 * kMiB);
    home.add(".ollama/models/blobs/sha256-x", 10 * kMiB);
    auto ctx = home.context();
    const auto candidates = PackageCachesRule().candidates(ctx);
    EXPECT_EQ(relativePaths(ctx, candidates),
              (Paths{".npm/_cacache", ".local/share/pnpm/store", ".cache/go-build", "go/pkg/mod",
                     ".ollama/models"}));
    ASSERT_EQ(candidates.size(), 5u);
    EXPECT_EQ(candidates[0].reason, "npm download cache — refetched when needed.");
    EXPECT_EQ(candidates[1].reason, "pnpm download cache — refetched when needed.");
    EXPECT_EQ(candidates[2].reason, "Go build cache — rebuilt by the next build.");
    EXPECT_EQ(candidates[2].safety, Safety::safe);
    EXPECT_EQ(candidates[3].reason,
              "Go modules cache — refetched when needed, which can take a while.");
    EXPECT_EQ(candidates[3].safety, Safety::review);
    EXPECT_EQ(candidates[4].safety, Safety::review);
}

TEST(PackageCachesRule, OnePlaceReachedTwoWaysIsOneCandidate) {
    TreeBuilder home("/home/ann");
    home.add(".cache/pip/http/x", 12 * kMiB);
    home.add("xdg-cache/yarn/v6/x", 12 * kMiB);
    auto ctx = home.context();
    EXPECT_EQ(relativePaths(ctx, PackageCachesRule().candidates(ctx)), Paths{".cache/pip"});
    ctx.cacheHome = ctx.inHome("xdg-cache");
    EXPECT_EQ(relativePaths(ctx, PackageCachesRule().candidates(ctx)),
              (Paths{".cache/pip", "xdg-cache/yarn"}));
}

// A project folder with a dependency folder of `bytes`, whose other contents are `idle` days old.
void project(TreeBuilder& home, const std::string& at, const std::string& dependency,
             uint64_t bytes, int64_t idle, const std::string& marker = "") {
    home.add(at + "/" + dependency + "/lib/x", bytes, 0);
    home.add(at + "/src/main", 4096, idle);
    if (!marker.empty()) home.add(at + "/" + marker, 100, idle);
}

TEST(ProjectDependenciesRule, IdleProjectsFromThirtyDaysWithMarkersAndSizes) {
    TreeBuilder home("/home/ann");
    project(home, "Projects/web", "node_modules", 10 * kMiB, 30);
    project(home, "Projects/fresh", "node_modules", 10 * kMiB, 29);
    project(home, "Projects/small", "node_modules", 10 * kMiB - 1, 400);
    project(home, "Projects/nocargo", "target", 20 * kMiB, 400);
    project(home, "Projects/crate", "target", 20 * kMiB, 1204, "Cargo.toml");
    project(home, "Projects/ios", "Pods", 20 * kMiB, 400, "Podfile");
    project(home, "Projects/swift", ".build", 20 * kMiB, 400, "Package.swift");
    project(home, "Projects/py", ".venv", 20 * kMiB, 400);
    auto ctx = home.context();
    ctx.locale = std::locale(std::locale::classic(), new testing::GroupedThousands);
    const auto candidates = ProjectDependenciesRule().candidates(ctx);
    std::map<std::string, Candidate> byPath;
    const auto paths = relativePaths(ctx, candidates);
    for (size_t i = 0; i < paths.size(); ++i)
        byPath.emplace(paths[i], candidates[i]);
    EXPECT_EQ(byPath.size(), 5u);
    EXPECT_EQ(byPath.at("Projects/web/node_modules").reason,
              "web untouched for 30 days — npm install brings it back.");
    EXPECT_EQ(byPath.at("Projects/crate/target").reason,
              "crate untouched for 1,204 days — cargo build brings it back.");
    EXPECT_EQ(byPath.at("Projects/ios/Pods").reason,
              "ios untouched for 400 days — pod install brings it back.");
    EXPECT_EQ(byPath.at("Projects/swift/.build").reason,
              "swift untouched for 400 days — swift build brings it back.");
    EXPECT_EQ(byPath.at("Projects/py/.venv").safety, Safety::review);
    EXPECT_EQ(byPath.at("Projects/py/.venv").reason,
              "py untouched for 400 days — recreate the virtual environment brings it back.");
}

TEST(ProjectDependenciesRule, SearchStopsAtDepthEightAndSkipsHiddenLibrarySnapAndNested) {
    TreeBuilder home("/home/ann");
    project(home, "a1/a2/a3/a4/a5/a6/a7", "node_modules", 10 * kMiB, 100);     // depth 8
    project(home, "b1/b2/b3/b4/b5/b6/b7/b8", "node_modules", 10 * kMiB, 100);  // depth 9
    project(home, ".hidden/p", "node_modules", 10 * kMiB, 100);
    project(home, "Library/p", "node_modules", 10 * kMiB, 100);
    project(home, "snap/code/174/p", "node_modules", 10 * kMiB, 100);
    project(home, "App.app/p", "node_modules", 10 * kMiB, 100);
    project(home, "outer", "node_modules", 10 * kMiB, 100);
    home.add("outer/node_modules/inner/node_modules/x", 20 * kMiB);
    auto ctx = home.context();
    auto paths = relativePaths(ctx, ProjectDependenciesRule().candidates(ctx));
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (Paths{"a1/a2/a3/a4/a5/a6/a7/node_modules", "outer/node_modules"}));
}

TEST(ProjectDependenciesRule, IdleDaysLookAtTheFirstTwentyThousandNodesOnly) {
    for (const int files : {19'990, 20'000}) {
        TreeBuilder home("/home/ann");
        home.add("p/node_modules/x", 10 * kMiB, 0);
        const auto bulk = home.add("p/bulk", 0, 400, true);
        for (int i = 0; i < files; ++i)
            home.addIn(bulk, "f" + std::to_string(i), 10, 400);
        // Listed first, so examined last: the newest file in the project.
        home.add("p/fresh.txt", 10, 1);
        auto ctx = home.context();
        const auto project = ctx.node("p");
        const auto deps = ctx.node("p/node_modules");
        // bulk (1) and its files come before fresh.txt; with 20,000 files it is never reached.
        EXPECT_EQ(ProjectDependenciesRule::idleDays(ctx, project, deps), files < 20'000 ? 1 : 400)
            << files;
    }
}

}  // namespace
}  // namespace shoreline
