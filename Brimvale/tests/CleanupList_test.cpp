#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AppTestFixture.h"
#include "QuenwickCore/DeletionGuard.h"

namespace brimvale {
namespace {

using quenwick::FileTree;
using quenwick::testing::makeDirs;
using quenwick::testing::writeFileOfSize;
using testing::AppTest;

const QString kOpen = QString::fromUtf8("\u201C");
const QString kClose = QString::fromUtf8("\u201D");

QString alreadyListed(const QString& name) {
    return kOpen + name + kClose + " is already in the Cleanup List (or inside something that is).";
}

class CleanupListTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        for (const char* dir : {"/a/b", "/a/c", "/a/bc", "/d"})
            ASSERT_TRUE(makeDirs(work + dir));
        ASSERT_TRUE(writeFileOfSize(work + "/a/b/one.bin", 40'000));
        ASSERT_TRUE(writeFileOfSize(work + "/a/c/two.bin", 20'000));
        ASSERT_TRUE(writeFileOfSize(work + "/a/bc/three.bin", 10'000));
        ASSERT_TRUE(writeFileOfSize(work + "/d/four.bin", 5'000));
        model = makeModel();
        show(*model, work);
        tester = std::make_unique<QAbstractItemModelTester>(
            model->cleanupList(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    }

    std::vector<std::string> listedPaths() const {
        std::vector<std::string> paths;
        for (const auto& item : model->lowTide())
            paths.push_back(item.path);
        return paths;
    }

    QString noticeText() const { return model->notice() ? model->notice()->text : QString(); }

    shoreline::Finding finding(const std::string& path) const {
        const auto verdict = quenwick::DeletionGuard::live().check(path);
        EXPECT_TRUE(verdict.isAllowed()) << path;
        const auto& tree = *model->tree();
        const auto node = tree.nodeAtPath(path);
        return {path,  tree.name(*node),  tree.size(*node), shoreline::Safety::safe,
                "old", *verdict.allowed()};
    }

    std::unique_ptr<AppModel> model;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

TEST_F(CleanupListTest, ItemInsideAListedFolderIsRefusedAndAFolderReplacesWhatItHolds) {
    stageAndWait(*model, work + "/a/b");
    stageAndWait(*model, work + "/a/c");
    EXPECT_EQ(listedPaths(), (std::vector<std::string>{work + "/a/b", work + "/a/c"}));
    EXPECT_EQ(model->stagedBytes(), model->lowTide()[0].bytes + model->lowTide()[1].bytes);

    stageAndWait(*model, work + "/a/b/one.bin");
    EXPECT_EQ(noticeText(), alreadyListed("one.bin"));
    EXPECT_FALSE(model->notice()->isWarning);
    EXPECT_EQ(listedPaths().size(), 2u);

    stageAndWait(*model, work + "/a");
    EXPECT_EQ(listedPaths(), std::vector<std::string>{work + "/a"});
    EXPECT_EQ(model->cleanupList()->rowCount(), 1);
    const auto a = *model->tree()->nodeAtPath(work + "/a");
    EXPECT_EQ(model->stagedBytes(), model->tree()->size(a));
    EXPECT_EQ(model->stageState(a), StageState::on);
    EXPECT_EQ(model->stageState(*model->tree()->nodeAtPath(work + "/a/b/one.bin")),
              StageState::insideStaged);
    EXPECT_EQ(model->stageState(*model->tree()->nodeAtPath(work + "/d")), StageState::off);
}

TEST_F(CleanupListTest, SiblingWhoseNameExtendsAListedNameIsNotInsideIt) {
    stageAndWait(*model, work + "/a/b");
    stageAndWait(*model, work + "/a/bc");
    EXPECT_EQ(listedPaths(), (std::vector<std::string>{work + "/a/b", work + "/a/bc"}));
    EXPECT_FALSE(model->isStaged(work + "/a/bcd"));
    EXPECT_TRUE(model->isStaged(work + "/a/bc/x"));
    EXPECT_EQ(model->stageState(*model->tree()->nodeAtPath(work + "/a/bc/three.bin")),
              StageState::insideStaged);
}

TEST_F(CleanupListTest, TickingTheRootStagesTheScannedFolderUnderTheTargetsTitle) {
    model->setTarget(ScanTarget::folder(work));
    QSignalSpy settled(model.get(), &AppModel::backgroundSettled);
    model->toggleStaged(FileTree::root);
    ASSERT_TRUE(waitFor([&] { return settled.count() > 0; }));
    ASSERT_EQ(model->lowTide().size(), 1u);
    EXPECT_EQ(model->lowTide()[0].name, "work");
    EXPECT_EQ(model->lowTide()[0].path, work);
    EXPECT_EQ(model->lowTide()[0].bytes, model->tree()->size(FileTree::root));
    // Ticking it again takes it off at once.
    model->toggleStaged(FileTree::root);
    EXPECT_TRUE(model->lowTide().empty());
    EXPECT_EQ(model->cleanupList()->rowCount(), 0);
}

TEST_F(CleanupListTest, PathTheGuardBlocksIsRefusedWithItsReason) {
    const auto verdict = quenwick::DeletionGuard::live().check(home);
    ASSERT_FALSE(verdict.isAllowed());
    stageAndWait(*model, home);
    EXPECT_TRUE(model->lowTide().empty());
    ASSERT_TRUE(model->notice());
    EXPECT_EQ(noticeText(), "Brimvale won't remove " + kOpen + "home" + kClose + ": " +
                                QString::fromStdString(*verdict.blockedReason()) + ".");
    EXPECT_TRUE(model->notice()->isWarning);
}

TEST_F(CleanupListTest, SamePathDroppedTwiceInARowIsListedOnce) {
    QSignalSpy settled(model.get(), &AppModel::backgroundSettled);
    model->stagePath(work + "/d");
    // The second drop arrives as text, the way QML hands it over.
    model->stage(QString::fromStdString(work + "/d/"));
    EXPECT_EQ(noticeText(), alreadyListed("d"));
    ASSERT_TRUE(waitFor([&] { return settled.count() >= 2; }));
    EXPECT_EQ(listedPaths(), std::vector<std::string>{work + "/d"});
}

TEST_F(CleanupListTest, ParentDroppedAfterItsChildTakesItsPlace) {
    QSignalSpy settled(model.get(), &AppModel::backgroundSettled);
    model->stagePath(work + "/a/c");
    model->stagePath(work + "/a");
    ASSERT_TRUE(waitFor([&] { return settled.count() >= 2; }));
    EXPECT_EQ(listedPaths(), std::vector<std::string>{work + "/a"});
}

TEST_F(CleanupListTest, FolderDroppedFromOutsideTheTreeIsMeasuredInTheBackground) {
    const std::string outside = root / "outside";
    ASSERT_TRUE(makeDirs(outside + "/inner"));
    ASSERT_TRUE(writeFileOfSize(outside + "/inner/data.bin", 1'000'000));
    ASSERT_TRUE(writeFileOfSize(outside + "/loose.bin", 300'000));
    const uint64_t measured = scan(outside)->size(FileTree::root);
    ASSERT_GE(measured, 1'000'000u);

    stageAndWait(*model, outside);
    ASSERT_EQ(model->lowTide().size(), 1u);
    EXPECT_EQ(model->lowTide()[0].name, "outside");
    ASSERT_TRUE(waitFor([&] { return model->stagedBytes() == measured; })) << model->stagedBytes();
    EXPECT_EQ(model->cleanupList()->index(0).data(CleanupListModel::BytesRole).toULongLong(),
              measured);

    // A dropped file keeps its own allocated size.
    model->unstage(model->lowTide()[0].id);
    stageAndWait(*model, outside + "/loose.bin");
    EXPECT_EQ(model->stagedBytes(), ItemIdentity::of(outside + "/loose.bin")->allocatedBytes);
}

TEST_F(CleanupListTest, NamesThatAreNotUtf8OrHoldANewlineAreStagedAndShown) {
    const std::string odd = work + "/caf\xE9\nmenu";
    ASSERT_TRUE(makeDirs(odd));
    ASSERT_TRUE(writeFileOfSize(odd + "/x", 4096));
    show(*model, work);
    stageAndWait(*model, odd);
    ASSERT_EQ(model->lowTide().size(), 1u);
    EXPECT_EQ(model->lowTide()[0].path, odd);
    EXPECT_EQ(model->lowTide()[0].name, QString::fromUtf8("caf\uFFFD\nmenu"));
}

TEST_F(CleanupListTest, CheckedSuggestionsGoToTheListWithACountedNotice) {
    shoreline::ShorelineCategory logs{"logs", "Logs", "doc", "Old logs", {}};
    logs.findings = {finding(work + "/a/b"), finding(work + "/a/c"), finding(work + "/d")};
    model->setShoreline({logs});
    QAbstractItemModelTester suggestionsTester(
        model->suggestions(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(model->shorelineTotalBytes(), logs.total());
    EXPECT_EQ(model->shorelineSafeBytes(), logs.safeTotal());

    model->toggle(logs.findings[2]);
    ASSERT_EQ(model->checkedFindings().size(), 1u);
    QSignalSpy settled(model.get(), &AppModel::backgroundSettled);
    model->sendCheckedToLowTide();
    ASSERT_TRUE(waitFor([&] { return settled.count() > 0; }));
    EXPECT_EQ(noticeText(), "Added 1 item (" + model->formatBytes(logs.findings[2].bytes) +
                                ") to the Cleanup List.");
    // What is listed is no longer offered.
    EXPECT_TRUE(model->checkedFindings().empty());

    model->unstage(model->lowTide()[0].id);
    model->setAll(logs, true);
    EXPECT_EQ(model->suggestions()->index(0).data(SuggestionsModel::CheckedCountRole).toInt(), 3);
    settled.clear();
    model->sendCheckedToLowTide();
    ASSERT_TRUE(waitFor([&] { return settled.count() > 0; }));
    EXPECT_EQ(noticeText(),
              "Added 3 items (" + model->formatBytes(logs.total()) + ") to the Cleanup List.");
    EXPECT_EQ(listedPaths().size(), 3u);
    EXPECT_TRUE(model->checkedFindings().empty());

    model->setAll(logs, false);
    EXPECT_TRUE(model->shorelineChecked().empty());
    model->toggleFindingAt(0, 1);
    EXPECT_EQ(model->shorelineChecked(), PathSet{work + "/a/c"});
    model->toggleFindingAt(0, 1);
    model->toggleFindingAt(5, 0);
    EXPECT_TRUE(model->shorelineChecked().empty());
}

TEST_F(CleanupListTest, RefusedSuggestionsStillCountInTheNoticeThatReplacesTheirs) {
    // Overlapping findings: the folder goes first, so its inner finding is refused.
    shoreline::ShorelineCategory caches{"caches", "Caches", "box", "", {}};
    caches.findings = {finding(work + "/a"), finding(work + "/a/b")};
    model->setShoreline({caches});
    model->setAll(caches, true);
    QSignalSpy settled(model.get(), &AppModel::backgroundSettled);
    model->sendCheckedToLowTide();
    ASSERT_TRUE(waitFor([&] { return settled.count() > 0; }));
    EXPECT_EQ(listedPaths(), std::vector<std::string>{work + "/a"});
    EXPECT_EQ(noticeText(),
              "Added 2 items (" + model->formatBytes(caches.total()) + ") to the Cleanup List.");
}

}  // namespace
}  // namespace brimvale
