#include "QuenwickCore/SnapshotRefresh.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "JournalFixture.h"
#include "QuenwickCore/FSEventsHistory.h"
#include "QuenwickCore/SnapshotScan.h"
#include "TestSupport.h"

namespace quenwick {
namespace {

using testing::appendToFile;
using testing::differences;
using testing::freshScan;
using testing::makeDirs;
using testing::recorderOptions;
using testing::RecorderThread;
using testing::summarise;
using testing::touchFile;

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class SnapshotRefreshTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = folders.dir() / "tree";
        file = folders.dir() / "tree.qws";
        ASSERT_TRUE(makeDirs(root + "/keep/sub"));
        ASSERT_TRUE(makeDirs(root + "/other"));
        ASSERT_TRUE(touchFile(root + "/keep/a", 1000));
        ASSERT_TRUE(touchFile(root + "/other/b", 2000));
    }

    // Scans the tree as a snapshot (stamped before the scan) and saves it to file.
    SnapshotMeta saveScan() {
        DiskScanner scanner(ScanOptions::forVolume(root), 2);
        const auto scanned = SnapshotScan::scan(scanner, root);
        EXPECT_FALSE(Snapshot::save(*scanned.tree, scanned.meta, file));
        return scanned.meta;
    }

    std::unique_ptr<RecorderThread> record() {
        auto recorder = std::make_unique<RecorderThread>(
            recorderOptions({root}, JournalRecorder::Mode::inotify));
        EXPECT_TRUE(recorder->started()) << recorder->error()->describe();
        return recorder;
    }

    static RefreshResult succeeded(std::variant<RefreshResult, RefreshError> outcome) {
        if (auto* error = std::get_if<RefreshError>(&outcome)) {
            ADD_FAILURE() << error->describe();
            return {};
        }
        return std::get<RefreshResult>(std::move(outcome));
    }

    testing::ScopedUserFolders folders;
    std::string root, file;
};

TEST_F(SnapshotRefreshTest, JournalCatchUpRescansTheChangedFoldersAndSavesTheNewPosition) {
    auto recorder = record();
    const uint64_t before = FSEventsHistory::currentEventID();
    const auto saved = saveScan();
    EXPECT_GE(saved.fsEventID, before);  // stamped before the scan, not before the recorder

    ASSERT_TRUE(touchFile(root + "/keep/sub/new", 50000));
    ASSERT_TRUE(makeDirs(root + "/keep/fresh/deeper"));
    ASSERT_TRUE(touchFile(root + "/keep/fresh/deeper/leaf", 7000));
    ASSERT_TRUE(appendToFile(root + "/keep/a", 90000));

    SnapshotRefresh refresh;
    const auto r = succeeded(refresh.run(file));
    ASSERT_TRUE(r.tree);
    EXPECT_FALSE(r.fullRescan);
    EXPECT_NE(std::find(r.changed.begin(), r.changed.end(), root + "/keep/sub"), r.changed.end());
    EXPECT_EQ(std::find(r.changed.begin(), r.changed.end(), root + "/other"), r.changed.end());
    EXPECT_EQ(r.foldersLookedAt, r.changed.size());
    EXPECT_EQ(r.before, saved);
    EXPECT_GT(r.meta.fsEventID, saved.fsEventID);
    EXPECT_EQ(differences(summarise(*freshScan(root)), summarise(*r.tree)), "");

    // What was saved is what came back.
    auto reloaded = Snapshot::load(file);
    ASSERT_TRUE(std::holds_alternative<LoadedSnapshot>(reloaded));
    const auto& again = std::get<LoadedSnapshot>(reloaded);
    EXPECT_EQ(again.meta, r.meta);
    EXPECT_EQ(differences(summarise(*r.tree), summarise(*again.tree)), "");
}

TEST_F(SnapshotRefreshTest, WithoutARecorderTheRefreshScansInFull) {
    saveScan();
    ASSERT_TRUE(touchFile(root + "/other/c", 40000));
    const auto r = succeeded(SnapshotRefresh().run(file));
    ASSERT_TRUE(r.tree);
    EXPECT_TRUE(r.fullRescan);
    EXPECT_TRUE(r.changed.empty());
    EXPECT_EQ(r.foldersLookedAt, 4u);  // the root, keep, keep/sub and other
    EXPECT_EQ(differences(summarise(*freshScan(root)), summarise(*r.tree)), "");
}

TEST_F(SnapshotRefreshTest, ForeignRootOrASilentJournalStopsARefreshThatMayNotScanInFull) {
    saveScan();
    const std::string original = bytesOf(file);
    RefreshOptions elsewhere;
    elsewhere.expectedRoot = root + "/keep";
    auto foreign = SnapshotRefresh(elsewhere).run(file);
    ASSERT_TRUE(std::holds_alternative<RefreshError>(foreign));
    EXPECT_EQ(std::get<RefreshError>(foreign).kind, RefreshError::Kind::otherRoot);

    // No recorder ran: the journal cannot say, and a full scan is not this caller's wish.
    ScanControl control;
    RefreshOptions strict;
    strict.expectedRoot = root;
    strict.fullScanAllowed = false;
    strict.control = &control;
    auto silent = SnapshotRefresh(strict).run(file);
    ASSERT_TRUE(std::holds_alternative<RefreshError>(silent));
    EXPECT_EQ(std::get<RefreshError>(silent).kind, RefreshError::Kind::needsFullScan);
    EXPECT_TRUE(control.finished());
    EXPECT_EQ(bytesOf(file), original);

    // A control's cancel counts as the refresh's own.
    ScanControl stopped;
    stopped.cancel();
    RefreshOptions cancelled;
    cancelled.control = &stopped;
    auto result = SnapshotRefresh(cancelled).run(file);
    ASSERT_TRUE(std::holds_alternative<RefreshError>(result));
    EXPECT_EQ(std::get<RefreshError>(result).kind, RefreshError::Kind::cancelled);
    EXPECT_EQ(bytesOf(file), original);
}

TEST_F(SnapshotRefreshTest, RefreshWorksOnItsOwnTreeNeverTheOneShown) {
    auto recorder = record();
    saveScan();
    auto shownLoad = Snapshot::load(file);
    ASSERT_TRUE(std::holds_alternative<LoadedSnapshot>(shownLoad));
    const auto shown = std::get<LoadedSnapshot>(shownLoad).tree;
    const auto shownBefore = summarise(*shown);

    ASSERT_TRUE(touchFile(root + "/keep/sub/more", 60000));
    const auto r = succeeded(SnapshotRefresh().run(file));
    ASSERT_TRUE(r.tree);
    EXPECT_NE(r.tree, shown);
    EXPECT_EQ(differences(shownBefore, summarise(*shown)), "");
    EXPECT_TRUE(r.tree->nodeAtPath(root + "/keep/sub/more"));
    EXPECT_FALSE(shown->nodeAtPath(root + "/keep/sub/more"));
}

TEST_F(SnapshotRefreshTest, FailedOrCancelledRefreshLeavesTheFileAsItWas) {
    saveScan();
    const std::string original = bytesOf(file);

    // Cancelled before it starts: nothing is scanned or saved, and the cancel is spent.
    SnapshotRefresh refresh;
    refresh.cancel();
    auto cancelled = refresh.run(file);
    ASSERT_TRUE(std::holds_alternative<RefreshError>(cancelled));
    EXPECT_EQ(std::get<RefreshError>(cancelled).kind, RefreshError::Kind::cancelled);
    EXPECT_EQ(bytesOf(file), original);
    EXPECT_TRUE(std::holds_alternative<RefreshResult>(refresh.run(file)));
    const std::string refreshed = bytesOf(file);

    // The root is gone: reported, and the file is not replaced by an empty tree.
    ASSERT_EQ(rename(root.c_str(), (root + ".away").c_str()), 0);
    auto unreadable = SnapshotRefresh().run(file);
    ASSERT_EQ(rename((root + ".away").c_str(), root.c_str()), 0);
    ASSERT_TRUE(std::holds_alternative<RefreshError>(unreadable));
    const auto& error = std::get<RefreshError>(unreadable);
    EXPECT_EQ(error.kind, RefreshError::Kind::unreadableRoot);
    EXPECT_EQ(error.describe(),
              "cannot read " + root + ": No such file or directory; " + file + " left as it was");
    EXPECT_EQ(bytesOf(file), refreshed);

    // A damaged file is reported as such and left alone.
    ASSERT_TRUE(testing::writeFile(file, "QWS1 but nothing more"));
    auto damaged = SnapshotRefresh().run(file);
    ASSERT_TRUE(std::holds_alternative<RefreshError>(damaged));
    EXPECT_EQ(std::get<RefreshError>(damaged).kind, RefreshError::Kind::cannotLoad);
    EXPECT_EQ(bytesOf(file), "QWS1 but nothing more");
}

}  // namespace
}  // namespace quenwick
