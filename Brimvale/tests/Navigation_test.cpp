#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "AppTestFixture.h"
#include "QuenwickCore/DeletionGuard.h"

namespace brimvale {
namespace {

using quenwick::FileTree;
using quenwick::VolumeInfo;
using quenwick::testing::makeDirs;
using quenwick::testing::writeFileOfSize;
using Kind = ringkit::RingSegment::Kind;
using testing::AppTest;

constexpr uint64_t GB = 1'000'000'000;

class NavigationTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        ASSERT_TRUE(makeDirs(work + "/big/deep/deeper"));
        ASSERT_TRUE(makeDirs(work + "/small"));
        ASSERT_TRUE(writeFileOfSize(work + "/big/deep/deeper/a.bin", 400'000));
        ASSERT_TRUE(writeFileOfSize(work + "/big/b.bin", 200'000));
        ASSERT_TRUE(writeFileOfSize(work + "/small/c.bin", 8'000));
        model = makeModel();
    }

    FileTree::Node node(const std::string& relative) const {
        const auto n = model->tree()->nodeAtPath(work + "/" + relative);
        EXPECT_TRUE(n) << relative;
        return n.value_or(FileTree::root);
    }

    std::unique_ptr<AppModel> model;
};

TEST_F(NavigationTest, FocusingTheFocusedFolderOrGoingUpAtTheRootDoesNothing) {
    show(*model, work);
    const auto layout = model->layoutID();
    QSignalSpy focus(model.get(), &AppModel::focusChanged);
    model->goUp();
    model->focusOn(FileTree::root);
    EXPECT_EQ(model->layoutID(), layout);
    EXPECT_EQ(focus.count(), 0);

    model->focusOn(node("big"));
    EXPECT_EQ(model->layoutID(), layout + 1);
    model->focusOn(node("big"));
    EXPECT_EQ(model->layoutID(), layout + 1);
    EXPECT_EQ(focus.count(), 1);
}

TEST_F(NavigationTest, BreadcrumbsLeadFromTheRootToTheFocusAndUpGoesBackOneStep) {
    show(*model, work);
    QAbstractItemModelTester tester(model->breadcrumbModel(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    model->focusOn(node("big/deep/deeper"));
    const std::vector<FileTree::Node> trail = {FileTree::root, node("big"), node("big/deep"),
                                               node("big/deep/deeper")};
    EXPECT_EQ(model->breadcrumbs(), trail);
    auto* crumbs = model->breadcrumbModel();
    ASSERT_EQ(crumbs->rowCount(), 4);
    EXPECT_EQ(crumbs->index(0).data(BreadcrumbModel::TitleRole).toString(), "work");
    EXPECT_EQ(crumbs->index(3).data(BreadcrumbModel::TitleRole).toString(), "deeper");

    QSignalSpy removed(crumbs, &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(crumbs, &QAbstractItemModel::modelReset);
    model->goUp();
    EXPECT_EQ(model->focus(), node("big/deep"));
    EXPECT_EQ(crumbs->rowCount(), 3);
    EXPECT_EQ(removed.count(), 1);
    EXPECT_EQ(reset.count(), 0);
    model->focusOn(node("small"));
    EXPECT_EQ(crumbs->index(1).data(BreadcrumbModel::TitleRole).toString(), "small");
    EXPECT_EQ(crumbs->rowCount(), 2);
}

TEST_F(NavigationTest, FolderWithMoreThanFiveHundredChildrenListsTheLargestFiveHundred) {
    ASSERT_TRUE(makeDirs(work + "/crowd501"));
    ASSERT_TRUE(makeDirs(work + "/crowd500"));
    for (int i = 0; i < 501; ++i) {
        ASSERT_TRUE(writeFileOfSize(work + "/crowd501/f" + std::to_string(i), 0));
        if (i < 500) {
            ASSERT_TRUE(writeFileOfSize(work + "/crowd500/f" + std::to_string(i), 0));
        }
    }
    // One child that is clearly the largest, so "the first 500" is observable.
    ASSERT_TRUE(writeFileOfSize(work + "/crowd501/f77", 64'000));
    show(*model, work);
    QAbstractItemModelTester tester(model->items(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    model->focusOn(node("crowd501"));
    const auto items = model->listItems();
    ASSERT_EQ(items.size(), 500u);
    EXPECT_EQ(items.front(), node("crowd501/f77"));
    EXPECT_EQ(model->items()->rowCount(), 500);
    model->focusOn(node("crowd500"));
    EXPECT_EQ(model->listItems().size(), 500u);
    EXPECT_EQ(model->items()->rowCount(), 500);
}

TEST_F(NavigationTest, ListIsEmptyUntilTheTreeIsReady) {
    show(*model, work);
    EXPECT_FALSE(model->listItems().empty());
    model->setPhase(Phase::scanning);
    EXPECT_TRUE(model->listItems().empty());
    EXPECT_EQ(model->items()->rowCount(), 0);
    model->relayout();
    EXPECT_TRUE(model->segments().empty());
}

TEST_F(NavigationTest, StartupDiskRootShowsTheUnseenSpaceSplitIntoHiddenAndPurgeable) {
    model->setTarget(ScanTarget::startupDisk());
    const auto tree = scan(work);
    const uint64_t scanned = tree->size(FileTree::root);
    // 500 GB used, 100 GB of it purgeable.
    const VolumeInfo volume{1000 * GB, 500 * GB, 600 * GB};
    model->installTree(tree, volume);
    EXPECT_EQ(model->size(Kind::purgeable()), 100 * GB);
    EXPECT_EQ(model->size(Kind::hidden()), 500 * GB - scanned - 100 * GB);

    // Away from the root, or for a folder scan, there are no extras.
    model->focusOn(node("big"));
    EXPECT_EQ(model->size(Kind::hidden()), 0u);
    model->goUp();
    EXPECT_GT(model->size(Kind::hidden()), 0u);
    model->setTarget(ScanTarget::folder(work));
    model->relayout();
    EXPECT_EQ(model->size(Kind::hidden()), 0u);
    EXPECT_EQ(model->size(Kind::purgeable()), 0u);
}

TEST_F(NavigationTest, TreeLargerThanTheVolumesUsedSpaceLeavesBothExtrasEmpty) {
    model->setTarget(ScanTarget::startupDisk());
    model->installTree(scan(work), VolumeInfo{1000, 900, 950});
    EXPECT_EQ(model->size(Kind::hidden()), 0u);
    EXPECT_EQ(model->size(Kind::purgeable()), 0u);
    EXPECT_FALSE(model->segments().empty());
}

TEST_F(NavigationTest, LabelsOfSegmentKinds) {
    show(*model, work);
    EXPECT_EQ(model->label(Kind::node(0)), "work");
    EXPECT_EQ(model->label(Kind::node(node("big/deep"))), "deep");
    EXPECT_EQ(model->label(Kind::smaller(0, 1234)), "1,234 smaller items");
    EXPECT_EQ(model->label(Kind::hidden()), "Hidden & system space");
    EXPECT_EQ(model->label(Kind::purgeable()), "Purgeable (the system frees this itself)");
    model->setTarget(ScanTarget::home());
    EXPECT_EQ(model->label(Kind::node(0)), "Home");
    model->dropTree();
    EXPECT_EQ(model->label(Kind::node(0)), "");
}

TEST_F(NavigationTest, CentreArcDuringAHomeScanStopsAtItsCap) {
    model->setTarget(ScanTarget::home());
    model->setVolume(VolumeInfo{500 * GB, 400 * GB, 400 * GB});  // 100 GB used
    model->setPhase(Phase::scanning);
    quenwick::ScanProgress progress;
    progress.bytes = 10 * GB;
    model->setProgress(progress);
    EXPECT_DOUBLE_EQ(model->fullness(), 0.2);
    progress.bytes = 49 * GB;
    model->setProgress(progress);
    EXPECT_DOUBLE_EQ(model->fullness(), 0.98);
    progress.bytes = 80 * GB;
    model->setProgress(progress);
    EXPECT_DOUBLE_EQ(model->fullness(), 0.98);
    model->setTarget(ScanTarget::startupDisk());
    progress.bytes = 25 * GB;
    model->setProgress(progress);
    EXPECT_DOUBLE_EQ(model->fullness(), 0.25);
}

TEST_F(NavigationTest, CentreArcShowsTheDiskAtTheRootAndAtLeastTwoPercentInside) {
    ASSERT_TRUE(writeFileOfSize(work + "/huge.bin", 8'000'000));
    show(*model, work, VolumeInfo{1000, 250, 250});
    EXPECT_DOUBLE_EQ(model->fullness(), 0.75);
    model->focusOn(node("small"));
    EXPECT_DOUBLE_EQ(model->fullness(), 0.02);
    model->focusOn(node("big"));
    const auto& tree = *model->tree();
    EXPECT_DOUBLE_EQ(model->fullness(), static_cast<double>(tree.size(node("big"))) /
                                            static_cast<double>(tree.size(FileTree::root)));
    model->dropTree();
    EXPECT_EQ(model->fullness(), 0);
}

TEST_F(NavigationTest, StorageCountsEachFolderOnceAndAlwaysShowsSystemAndOther) {
    ASSERT_TRUE(makeDirs(home + "/Documents/Music"));
    ASSERT_TRUE(writeFileOfSize(home + "/Documents/notes.txt", 100'000));
    ASSERT_TRUE(writeFileOfSize(home + "/Documents/Music/song.ogg", 300'000));
    ASSERT_TRUE(makeDirs(home + "/Pictures"));
    ASSERT_TRUE(makeDirs(home + "/.cargo"));
    ASSERT_TRUE(writeFileOfSize(home + "/.cargo/registry.bin", 50'000));
    ASSERT_TRUE(makeDirs(data + "/Trash/files"));
    ASSERT_TRUE(writeFileOfSize(data + "/Trash/files/old.bin", 20'000));
    ASSERT_TRUE(makeDirs(home + "/Shots"));
    ASSERT_TRUE(writeFileOfSize(home + "/Shots/s.png", 70'000));
    ASSERT_TRUE(quenwick::testing::writeFile(
        config + "/user-dirs.dirs",
        "XDG_MUSIC_DIR=\"$HOME/Documents/Music\"\nXDG_PICTURES_DIR=\"$HOME/Shots\"\n"
        "XDG_DESKTOP_DIR=\"$HOME\"\n"));
    model = makeModel();
    model->setTarget(ScanTarget::home());
    const auto tree = scan(home);
    model->installTree(tree, std::nullopt);
    model->setStartupVolume(VolumeInfo{10 * GB, 4 * GB, 4 * GB});

    const auto summary = model->storage();
    ASSERT_TRUE(summary);
    EXPECT_EQ(summary->total, 10 * GB);
    EXPECT_EQ(summary->available, 4 * GB);
    auto slice = [&](const char* id) -> const StorageSlice* {
        for (const auto& s : summary->slices)
            if (s.id == id) return &s;
        return nullptr;
    };
    auto sizeOf = [&](const std::string& path) { return tree->size(*tree->nodeAtPath(path)); };
    ASSERT_TRUE(slice("docs"));
    EXPECT_EQ(slice("docs")->bytes,
              sizeOf(home + "/Documents") - sizeOf(home + "/Documents/Music"));
    ASSERT_TRUE(slice("media"));
    EXPECT_EQ(slice("media")->bytes, sizeOf(home + "/Documents/Music") + sizeOf(home + "/Shots") +
                                         sizeOf(home + "/Pictures"));
    ASSERT_TRUE(slice("dev"));
    EXPECT_EQ(slice("dev")->title, "Developer");
    ASSERT_TRUE(slice("trash"));
    EXPECT_EQ(slice("trash")->bytes, sizeOf(data + "/Trash"));
    EXPECT_EQ(summary->trash, sizeOf(data + "/Trash"));
    EXPECT_FALSE(slice("apps"));
    EXPECT_FALSE(slice("icloud"));
    // The user folder set to the home folder itself claims nothing.
    uint64_t sum = 0;
    for (const auto& s : summary->slices)
        if (s.id != "other") sum += s.bytes;
    EXPECT_LT(sum, tree->size(FileTree::root));
    ASSERT_EQ(summary->slices.back().id, "other");
    EXPECT_EQ(summary->slices.back().bytes, 6 * GB - sum);
    EXPECT_EQ(summary->slices.back().title, "System & Other");

    // The Trash's size as the last scan saw it wins when it is larger.
    model->setTrashBytes(5 * GB);
    EXPECT_EQ(model->storage()->trash, 5 * GB);

    // Slices that add up to more than the used space leave "System & Other" at 0, still shown.
    model->setStartupVolume(VolumeInfo{10 * GB, 10 * GB - 1000, 10 * GB - 1000});
    const auto full = model->storage();
    ASSERT_EQ(full->slices.back().id, "other");
    EXPECT_EQ(full->slices.back().bytes, 0u);
    model->setStartupVolume(std::nullopt);
    EXPECT_FALSE(model->storage());
}

TEST_F(NavigationTest, NewTreeKeepsTheFocusedFolderAndThePreviousRingPairableByPath) {
    show(*model, work);
    model->focusOn(node("big"));
    const auto oldSegments = model->segments();
    std::vector<std::string> oldPaths;
    for (const auto& s : oldSegments)
        oldPaths.push_back(s.kind.isNode() || s.kind.isSmaller() ? model->tree()->path(s.kind.index)
                                                                 : std::string());
    // The new scan finds one more folder, so the indices of the two trees differ.
    ASSERT_TRUE(makeDirs(work + "/big/fresh"));
    ASSERT_TRUE(writeFileOfSize(work + "/big/fresh/n.bin", 90'000));
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(makeDirs(work + "/new" + std::to_string(i)));
        ASSERT_TRUE(writeFileOfSize(work + "/new" + std::to_string(i) + "/f", 1000));
    }
    const auto oldDeepNode = node("big/deep");
    QSignalSpy reset(model->items(), &QAbstractItemModel::modelReset);
    model->installTree(scan(work), std::nullopt);
    EXPECT_EQ(model->tree()->path(model->focus()), work + "/big");
    EXPECT_EQ(model->previousSegments(), oldSegments);
    EXPECT_EQ(model->previousSegmentPaths(), oldPaths);
    EXPECT_EQ(reset.count(), 1);
    // The renderer's morph moves the focused folder's children from their old places.
    const auto morph = model->morph();
    const auto deep = *model->tree()->nodeAtPath(work + "/big/deep");
    ASSERT_NE(deep, oldDeepNode) << "the two trees should number their nodes differently";
    const auto oldDeep = std::find_if(oldSegments.begin(), oldSegments.end(), [&](auto& s) {
        return s.kind.isNode() && oldPaths[&s - oldSegments.data()] == work + "/big/deep";
    });
    ASSERT_NE(oldDeep, oldSegments.end());
    const auto pair = std::find_if(morph.pairs.begin(), morph.pairs.end(),
                                   [&](auto& p) { return p.to.kind == Kind::node(deep); });
    ASSERT_NE(pair, morph.pairs.end());
    EXPECT_EQ(pair->from.start, oldDeep->start);
    EXPECT_EQ(pair->from.end, oldDeep->end);
    // A relayout of the same tree pairs by index again.
    model->relayout();
    EXPECT_TRUE(model->previousSegmentPaths().empty());

    // A folder that is gone from the new tree sends the focus to the root.
    model->focusOn(node("big/fresh"));
    quenwick::testing::removeTree(work + "/big/fresh");
    model->installTree(scan(work), std::nullopt);
    EXPECT_EQ(model->focus(), FileTree::root);
}

}  // namespace
}  // namespace brimvale
