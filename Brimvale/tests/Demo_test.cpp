#include <sys/stat.h>

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "AppTestFixture.h"
#include "QuenwickCore/TideHistory.h"
#include "Shoreline/Shoreline.h"
#include "app/LaunchOptions.h"
#include "demo/DemoMachine.h"

namespace brimvale {
namespace {

using quenwick::FileTree;
using quenwick::testing::makeDirs;
using quenwick::testing::writeFile;
using testing::AppTest;
namespace fs = std::filesystem;

// 2026-03-14 09:30 UTC: any fixed time will do, the machine is counted back from it.
const auto kNow = std::chrono::system_clock::time_point(std::chrono::seconds(1773480600));

// Every file and folder below path with its size and modification time.
std::map<std::string, std::pair<uintmax_t, int64_t>> listing(const std::string& path) {
    std::map<std::string, std::pair<uintmax_t, int64_t>> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path, ec); it != fs::end(it);
         it.increment(ec)) {
        struct stat st;
        if (lstat(it->path().c_str(), &st) != 0) continue;
        out[it->path().string()] = {static_cast<uintmax_t>(st.st_size), st.st_mtim.tv_nsec};
    }
    return out;
}

class DemoTest : public AppTest {
protected:
    std::unique_ptr<AppModel> startDemo() {
        auto model = makeModel(AppModel::Services::demoMachine(DemoMachine::make(kNow)));
        model->start();
        EXPECT_TRUE(waitFor([&] {
            return model->phase() == Phase::ready &&
                   model->shorelinePhase() == ShorelinePhase::ready;
        }));
        return model;
    }
};

TEST_F(DemoTest, DemoModeNeverWritesNorShowsTheRealSnapshot) {
    // A real snapshot of the startup disk, and a real Trash with something in it.
    const std::string snapshot = data + "/Brimvale/Snapshots/_root.qws";
    ASSERT_TRUE(makeDirs(data + "/Brimvale/Snapshots"));
    ASSERT_TRUE(writeFile(snapshot, "not really a snapshot"));
    ASSERT_TRUE(makeDirs(data + "/Trash/files"));
    ASSERT_TRUE(writeFile(data + "/Trash/files/kept.txt", "mine"));
    ASSERT_TRUE(makeDirs(cache + "/thumbnails"));
    const bool fictionalHomeExisted = exists(DemoMachine::home);
    const auto dataBefore = listing(data);
    const auto cacheBefore = listing(cache);

    auto model = startDemo();
    ASSERT_TRUE(model->tree());
    EXPECT_EQ(model->tree()->rootPath(), "/");
    EXPECT_TRUE(model->tree()->nodeAtPath(std::string(DemoMachine::home) + "/Projects"));
    const uint64_t before = model->tree()->size(FileTree::root);
    const uint64_t availableBefore = model->volume()->available;

    const std::string home = DemoMachine::home;
    const std::string iso = home + "/Downloads/ubuntu-24.04.1-desktop-amd64.iso";
    const std::string deps = home + "/Projects/old-portfolio/node_modules";
    stageAndWait(*model, iso);
    stageAndWait(*model, deps);
    ASSERT_EQ(model->lowTide().size(), 2u);
    const auto trashed = removeAndWait(*model, false);
    ASSERT_TRUE(trashed);
    EXPECT_EQ(trashed->movedCount, 2);
    EXPECT_TRUE(trashed->failures.isEmpty());
    EXPECT_FALSE(model->tree()->nodeAtPath(iso));
    EXPECT_LT(model->tree()->size(FileTree::root), before);

    const std::string video = home + "/Videos/Exports/wedding-film-master.mov";
    stageAndWait(*model, video);
    const auto erased = removeAndWait(*model, true);
    ASSERT_TRUE(erased);
    EXPECT_EQ(erased->movedCount, 1);
    EXPECT_GT(model->volume()->available, availableBefore);

    // A fresh look (rescan, another target) keeps the fictional removals and the real files.
    QSignalSpy settled(model.get(), &AppModel::scanSettled);
    model->rescan();
    ASSERT_TRUE(waitFor([&] { return settled.count() > 0; }));
    EXPECT_FALSE(model->tree()->nodeAtPath(video));
    model->choose(ScanTarget::home());
    ASSERT_TRUE(waitFor([&] { return settled.count() > 1; }));
    EXPECT_EQ(model->tree()->rootPath(), home);
    model->refreshTrashLedger();
    model->deleteClearedTrashNow();
    waitFor([] { return false; }, std::chrono::milliseconds(300));
    model.reset();

    EXPECT_EQ(listing(data), dataBefore);
    EXPECT_EQ(listing(cache), cacheBefore);
    EXPECT_EQ(exists(DemoMachine::home), fictionalHomeExisted);
}

TEST_F(DemoTest, DemoModeRefusesWhatTheGuardBlocksInTheFictionalHome) {
    auto model = startDemo();
    const std::string documents = std::string(DemoMachine::home) + "/Documents";
    stageAndWait(*model, documents);
    stageAndWait(*model, "/usr");
    EXPECT_TRUE(model->lowTide().empty());
    ASSERT_TRUE(model->notice());
}

TEST(DemoMachineTest, BothSpellingsOfTheLaunchArgumentSwitchItOn) {
    EXPECT_TRUE(LaunchOptions::parse({"brimvale", "--demo"}).demo);
    EXPECT_TRUE(LaunchOptions::parse({"brimvale", "-BrimvaleDemo"}).demo);
    EXPECT_FALSE(LaunchOptions::parse({"brimvale", "--", "--demo"}).demo);
    EXPECT_FALSE(LaunchOptions::parse({"brimvale"}).demo);
}

TEST(DemoMachineTest, TreeTotalsAddUpAndFillTheDiskAsDescribed) {
    const auto machine = DemoMachine::make(kNow);
    const auto tree = machine->tree();
    EXPECT_GT(tree->count(), 20'000u);
    for (FileTree::Node n = 0; n < tree->count(); ++n) {
        if (!tree->isDirectory(n)) continue;
        uint64_t sum = 0;
        for (const auto c : tree->children(n))
            sum += tree->size(c);
        ASSERT_EQ(tree->size(n), sum) << tree->path(n);
    }
    const auto volume = machine->volume();
    EXPECT_EQ(volume.total, DemoMachine::diskBytes);
    EXPECT_NEAR(static_cast<double>(volume.used()) / volume.total, DemoMachine::fullness, 0.001);
    // The tree accounts for most of the used space, never for more.
    EXPECT_LE(tree->size(FileTree::root), volume.used());
    EXPECT_GT(tree->size(FileTree::root), volume.used() * 9 / 10);
    EXPECT_GT(machine->trashBytes(*tree), 0u);
    // The same time gives the same machine.
    const auto again = DemoMachine::make(kNow)->tree();
    ASSERT_EQ(again->count(), tree->count());
    for (FileTree::Node n = 0; n < tree->count(); n += 97) {
        ASSERT_EQ(again->size(n), tree->size(n));
        ASSERT_EQ(again->mtime(n), tree->mtime(n));
    }
    EXPECT_EQ(again->path(again->count() - 1), tree->path(tree->count() - 1));
}

TEST(DemoMachineTest, HistoryGrowsTowardsAFillDate) {
    const auto machine = DemoMachine::make(kNow);
    const auto& history = machine->history();
    ASSERT_EQ(history.size(), static_cast<size_t>(DemoMachine::historyDays));
    for (size_t i = 1; i < history.size(); ++i)
        EXPECT_NEAR(history[i].date - history[i - 1].date, 86'400.0, 1.0);
    EXPECT_EQ(history.back().volumeUsed, machine->volume().used());
    EXPECT_LT(history.front().volumeUsed, history.back().volumeUsed);
    const double now = std::chrono::duration<double>(kNow.time_since_epoch()).count();
    const auto days = quenwick::TideHistory::forecastDaysToFull(history, now);
    ASSERT_TRUE(days);
    EXPECT_GT(*days, 14.0);
    EXPECT_LT(*days, 400.0);
    EXPECT_FALSE(quenwick::TideHistory::growthOverDays(history, 7).empty());
}

TEST(DemoMachineTest, SuggestionsFillEveryCategoryFromTheFictionalTree) {
    const auto machine = DemoMachine::make(kNow);
    const std::shared_ptr<const FileTree> tree = machine->tree();
    const auto categories = machine->suggestions(tree);
    std::set<std::string> found;
    for (const auto& c : categories) {
        found.insert(c.id);
        for (const auto& f : c.findings)
            EXPECT_TRUE(tree->nodeAtPath(f.path)) << f.path;
    }
    for (const auto& rule : shoreline::Shoreline::rules())
        EXPECT_TRUE(found.count(rule->id())) << rule->id();
    // A copy is proposed, its original never.
    for (const auto& c : categories) {
        if (c.id != "duplicates") continue;
        for (const auto& d : machine->duplicates()) {
            EXPECT_TRUE(std::any_of(c.findings.begin(), c.findings.end(),
                                    [&](const auto& f) { return f.path == d.copy; }));
            EXPECT_FALSE(std::any_of(c.findings.begin(), c.findings.end(),
                                     [&](const auto& f) { return f.path == d.kept; }));
        }
    }
}

}  // namespace
}  // namespace brimvale
