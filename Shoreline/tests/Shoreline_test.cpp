#include "Shoreline/Shoreline.h"

#include <gtest/gtest.h>

#include <functional>

#include "FakeHome.h"

namespace shoreline {
namespace {

using testing::FakeHome;
using testing::kMiB;
using testing::TreeBuilder;

// A rule that proposes the given paths (relative to home) with the given safety.
class ListRule : public Rule {
public:
    ListRule(std::string id, std::vector<std::pair<std::string, Safety>> items)
        : Rule(std::move(id), "Title " + id, "symbol", "Blurb"), items_(std::move(items)) {}

    std::vector<Candidate> candidates(const ShorelineContext& ctx) const override {
        std::vector<Candidate> out;
        for (const auto& [relative, safety] : items_)
            out.push_back({ctx.node(relative), safety, "because " + relative});
        return out;
    }

private:
    std::vector<std::pair<std::string, Safety>> items_;
};

std::vector<std::string> findingNames(const ShorelineCategory& c) {
    std::vector<std::string> names;
    for (const auto& f : c.findings)
        names.push_back(f.name);
    return names;
}

TEST(Shoreline, RegistryKeepsTheTenRulesInTheirFixedOrderWithTheirCardTexts) {
    std::vector<std::string> ids;
    for (const auto& rule : Shoreline::rules())
        ids.push_back(rule->id());
    EXPECT_EQ(ids,
              (std::vector<std::string>{"caches", "logs", "xcode", "packages", "deps", "installers",
                                        "downloads", "duplicates", "large", "backups"}));
    const auto& dups = *Shoreline::rules()[7];
    EXPECT_EQ(dups.title(), "Duplicate files");
    EXPECT_EQ(dups.symbol(), "doc.on.doc");
    EXPECT_EQ(dups.blurb(),
              "Identical copies of the same large file. Brimvale keeps the copy in the most "
              "deliberate place.");
}

TEST(Shoreline, FirstRuleKeepsANodeAndNoFindingContainsAnother) {
    TreeBuilder home("/home/ann");
    home.add("Downloads/big/inner.bin", 8 * kMiB);
    home.add("Downloads/big/other.bin", 1 * kMiB);
    home.add("Downloads/solo.bin", 2 * kMiB);
    auto ctx = home.context();
    const ListRule folderFirst("a", {{"Downloads/big", Safety::safe}});
    const ListRule inside("b", {{"Downloads/big/inner.bin", Safety::review},
                                {"Downloads/solo.bin", Safety::review},
                                {"Downloads/solo.bin", Safety::caution}});
    const ListRule holder("c", {{"Downloads", Safety::review}});
    const auto categories = Shoreline::analyze(ctx, {&folderFirst, &inside, &holder});
    ASSERT_EQ(categories.size(), 2u);
    EXPECT_EQ(categories[0].id, "a");
    EXPECT_EQ(findingNames(categories[0]), std::vector<std::string>{"big"});
    EXPECT_EQ(categories[0].findings[0].bytes, 9 * kMiB);
    EXPECT_EQ(categories[0].findings[0].path, "/home/ann/Downloads/big");
    EXPECT_EQ(categories[1].id, "b");
    ASSERT_EQ(findingNames(categories[1]), std::vector<std::string>{"solo.bin"});
    EXPECT_EQ(categories[1].findings[0].safety, Safety::review);
    EXPECT_EQ(categories[1].findings[0].reason, "because Downloads/solo.bin");
}

TEST(Shoreline, GuardBlockedCandidatesVanishWhileTheRuleKeepsItsOthers) {
    TreeBuilder home("/home/ann");
    home.add("Documents/a.txt", kMiB);
    home.add(".ssh/id_ed25519", kMiB);
    home.add("Projects/x.bin", 3 * kMiB);
    auto ctx = home.context();
    const ListRule rule("r", {{"Documents", Safety::safe},
                              {".ssh/id_ed25519", Safety::safe},
                              {"Projects/x.bin", Safety::safe}});
    const auto categories = Shoreline::analyze(ctx, {&rule});
    ASSERT_EQ(categories.size(), 1u);
    EXPECT_EQ(findingNames(categories[0]), std::vector<std::string>{"x.bin"});
    EXPECT_EQ(categories[0].findings[0].removal.path(), "/home/ann/Projects/x.bin");
    // A blocked path does not claim anything: a later rule may still offer what lies inside it.
    const ListRule later("s", {{"Documents/a.txt", Safety::review}});
    EXPECT_EQ(Shoreline::analyze(ctx, {&rule, &later}).size(), 2u);
}

TEST(Shoreline, FindingsCarryTheGuardsCaution) {
    TreeBuilder home("/home/ann");
    home.add(".config/tool/state.db", 2 * kMiB);
    auto ctx = home.context();
    const ListRule rule("r", {{".config/tool", Safety::review}});
    const auto categories = Shoreline::analyze(ctx, {&rule});
    ASSERT_EQ(categories.size(), 1u);
    ASSERT_TRUE(categories[0].findings[0].removal.caution().has_value());
    EXPECT_EQ(*categories[0].findings[0].removal.caution(),
              "App data — the app may lose settings, documents or history");
}

TEST(Shoreline, CategoriesComeLargestFirstAndTiesKeepRuleAndCandidateOrder) {
    TreeBuilder home("/home/ann");
    home.add("p/one", 2 * kMiB);
    home.add("p/two", 2 * kMiB);
    home.add("p/three", 3 * kMiB);
    home.add("q/four", 4 * kMiB);
    home.add("q/five", 1 * kMiB);
    home.add("r/six", 7 * kMiB);
    auto ctx = home.context();
    const ListRule first(
        "first", {{"p/one", Safety::review}, {"p/two", Safety::safe}, {"p/three", Safety::safe}});
    const ListRule second("second", {{"q/five", Safety::review}, {"q/four", Safety::caution}});
    const ListRule third("third", {{"r/six", Safety::safe}});
    const ListRule empty("empty", {});
    const auto categories = Shoreline::analyze(ctx, {&first, &second, &empty, &third});
    // first and third both total 7 MiB and keep their order; second has 5 MiB.
    ASSERT_EQ(categories.size(), 3u);
    EXPECT_EQ(categories[0].id, "first");
    EXPECT_EQ(categories[1].id, "third");
    EXPECT_EQ(categories[2].id, "second");
    EXPECT_EQ(findingNames(categories[0]), (std::vector<std::string>{"three", "one", "two"}));
    EXPECT_EQ(categories[0].total(), 7 * kMiB);
    EXPECT_EQ(categories[0].safeTotal(), 5 * kMiB);
    EXPECT_EQ(findingNames(categories[2]), (std::vector<std::string>{"four", "five"}));
    EXPECT_EQ(categories[2].safeTotal(), 0u);
    EXPECT_EQ(categories[2].title, "Title second");
}

TEST(Shoreline, TheAppsOwnFoldersAreNeverFindingsNorAnythingHoldingThem) {
    TreeBuilder home("/home/ann");
    home.add(".cache/Brimvale/Erasing/x", 5 * kMiB);
    home.add(".cache/other/y", 5 * kMiB);
    home.add("data/Brimvale/Snapshots/_home_ann.qws", 5 * kMiB);
    home.add("data/app/state", 5 * kMiB);
    auto ctx = home.context();
    // $XDG_DATA_HOME moved to ~/data.
    ctx.dataHome = ctx.inHome("data");
    ctx.ownFolders = {ctx.inHome(".cache/Brimvale"), ctx.inHome("data/Brimvale")};
    const ListRule rule("r", {{".cache/Brimvale", Safety::safe},
                              {"data/Brimvale/Snapshots/_home_ann.qws", Safety::safe},
                              {"data", Safety::safe},
                              {"data/app", Safety::review},
                              {".cache/other", Safety::safe}});
    const auto categories = Shoreline::analyze(ctx, {&rule});
    ASSERT_EQ(categories.size(), 1u);
    EXPECT_EQ(findingNames(categories[0]), (std::vector<std::string>{"app", "other"}));
}

TEST(Shoreline, AScanOutsideTheHomeFolderYieldsNoCategories) {
    FakeHome disk;
    disk.file("Library/Caches/com.example/blob", 2 * kMiB);
    disk.file("Downloads/setup.dmg", 4096);
    disk.age("Downloads/setup.dmg", 30);
    auto ctx = disk.context();
    ctx.home = "/home/somebody-else";
    EXPECT_TRUE(Shoreline::analyze(ctx).empty());
}

TEST(Shoreline, AnalysisOfAFakeHomeGroupsEveryRulesFindings) {
    FakeHome home;
    home.file("Library/Caches/org.example.editor/cache.db", 3 * kMiB);
    home.file("Library/Logs/Editor/log.txt", 2 * kMiB);
    home.file("Downloads/tool.deb", 2 * kMiB);
    home.age("Downloads/tool.deb", 120);
    home.file("Downloads/report.pdf", 2 * kMiB);
    home.age("Downloads/report.pdf", 120);
    auto ctx = home.context();
    const auto categories = Shoreline::analyze(ctx);
    std::vector<std::string> ids;
    for (const auto& c : categories)
        ids.push_back(c.id);
    // Equal totals keep registry order; the old installer is not offered again as a download.
    EXPECT_EQ(ids, (std::vector<std::string>{"caches", "logs", "installers", "downloads"}));
    ASSERT_EQ(categories[2].findings.size(), 1u);
    EXPECT_EQ(categories[2].findings[0].name, "tool.deb");
    EXPECT_EQ(categories[2].findings[0].reason,
              "Installer downloaded 120 days ago — the app is probably installed by now.");
    ASSERT_EQ(categories[3].findings.size(), 1u);
    EXPECT_EQ(categories[3].findings[0].name, "report.pdf");
}

}  // namespace
}  // namespace shoreline
