#include "QuenwickCore/FSEventsHistory.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "JournalFixture.h"

using quenwick::ChangeJournal;
using quenwick::ChangeSet;
using quenwick::DiskScanner;
using quenwick::FileTree;
using quenwick::JournalRecorder;
using quenwick::NodeFlags;
using quenwick::ScanOptions;
using namespace quenwick::testing;
namespace FSEventsHistory = quenwick::FSEventsHistory;

namespace {

using Mode = JournalRecorder::Mode;

::testing::Environment* const privateTmpfs =
    ::testing::AddGlobalTestEnvironment(new PrivateTmpfsEnvironment);

std::string modeName(const ::testing::TestParamInfo<Mode>& info) {
    return info.param == Mode::fanotify ? "fanotify" : "inotify";
}

bool contains(const ChangeSet& changes, const std::string& path) {
    const auto& p = changes.paths();
    return std::find(p.begin(), p.end(), path) != p.end();
}

// Patches the tree the way the app's catch-up does and returns what the journal said.
ChangeSet catchUp(FileTree& tree, uint64_t since) {
    const auto changes = FSEventsHistory::changedDirectories(tree.rootPath(), since, 20);
    if (changes.needsFullRescan()) return changes;
    auto directories = changes.paths();
    for (auto& path : DiskScanner::newlyReadable(tree))
        directories.push_back(std::move(path));
    DiskScanner(ScanOptions::forVolume(tree.rootPath()), 2).rescan(tree, directories);
    return changes;
}

class ChangeTracking : public ::testing::TestWithParam<Mode> {
protected:
    void SetUp() override {
        root_ = folders_.dir() / "tree";
        ASSERT_TRUE(makeDirs(root_));
    }

    // A recorder over the given roots in the mode under test; nothing when fanotify is not
    // available to this process.
    std::unique_ptr<RecorderThread> record(std::vector<std::string> roots,
                                           quenwick::ChangeJournal::Writer::Limits limits = {}) {
        auto options = recorderOptions(std::move(roots), GetParam());
        options.limits = limits;
        auto recorder = std::make_unique<RecorderThread>(std::move(options));
        if (!recorder->started()) {
            if (GetParam() == Mode::inotify) ADD_FAILURE() << recorder->error()->describe();
            return nullptr;
        }
        return recorder;
    }

    std::string p(std::string_view relative) const { return root_ + "/" + std::string(relative); }

    ScopedUserFolders folders_;
    std::string root_;
};

#define START_RECORDER(var, ...)                                                    \
    auto var = record(__VA_ARGS__);                                                 \
    if (!var) {                                                                     \
        if (GetParam() == Mode::fanotify) GTEST_SKIP() << "fanotify not available"; \
        return;                                                                     \
    }

TEST_P(ChangeTracking, RefreshedTreeEqualsAFreshScanAfterEveryKindOfChange) {
    ASSERT_TRUE(makeDirs(p("keep/sub")));
    ASSERT_TRUE(makeDirs(p("gonedir/x")));
    ASSERT_TRUE(makeDirs(p("movedir/inner")));
    ASSERT_TRUE(makeDirs(p("dest")));
    ASSERT_TRUE(makeDirs(p("dir-becomes-file")));
    ASSERT_TRUE(makeDirs(p("deep")));
    ASSERT_TRUE(touchFile(p("keep/a.txt"), 1000));
    ASSERT_TRUE(touchFile(p("keep/sub/b.txt"), 5000));
    ASSERT_TRUE(touchFile(p("grow.txt"), 100));
    ASSERT_TRUE(touchFile(p("gone.txt"), 10));
    ASSERT_TRUE(touchFile(p("gonedir/x/y.txt"), 9000));
    ASSERT_TRUE(touchFile(p("rename-me.txt"), 3000));
    ASSERT_TRUE(touchFile(p("movedir/inner/z.txt"), 4000));
    ASSERT_TRUE(touchFile(p("file-becomes-dir"), 300));
    ASSERT_TRUE(touchFile(p("dir-becomes-file/q.txt"), 300));
    START_RECORDER(recorder, {root_});

    const uint64_t position = FSEventsHistory::currentEventID();
    auto tree = freshScan(root_);

    ASSERT_TRUE(touchFile(p("new.txt"), 2000));
    ASSERT_TRUE(touchFile(p("keep/sub/c.txt"), 7000));
    ASSERT_TRUE(makeDirs(p("newdir/n1/n2")));
    ASSERT_TRUE(touchFile(p("newdir/n1/n2/leaf"), 12000));
    ASSERT_EQ(unlink(p("gone.txt").c_str()), 0);
    removeTree(p("gonedir"));
    ASSERT_EQ(rename(p("rename-me.txt").c_str(), p("keep/renamed.txt").c_str()), 0);
    ASSERT_EQ(rename(p("movedir").c_str(), p("dest/movedir").c_str()), 0);
    // Written after the move: the recorder must know the folder's new place.
    ASSERT_TRUE(touchFile(p("dest/movedir/inner/z2.txt"), 6000));
    ASSERT_TRUE(appendToFile(p("grow.txt"), 100000));
    ASSERT_EQ(unlink(p("file-becomes-dir").c_str()), 0);
    ASSERT_TRUE(makeDirs(p("file-becomes-dir/inside")));
    ASSERT_TRUE(touchFile(p("file-becomes-dir/inside/f"), 8000));
    removeTree(p("dir-becomes-file"));
    ASSERT_TRUE(touchFile(p("dir-becomes-file"), 20000));
    ASSERT_TRUE(makeDirs(p("deep/a/b/c/d/e")));
    ASSERT_TRUE(touchFile(p("deep/a/b/c/d/e/f"), 100));

    const auto changes = catchUp(*tree, position);
    ASSERT_FALSE(changes.needsFullRescan());
    EXPECT_TRUE(contains(changes, root_));
    EXPECT_TRUE(contains(changes, p("keep/sub")));
    EXPECT_EQ(differences(summarise(*freshScan(root_)), summarise(*tree)), "");
}

TEST_P(ChangeTracking, NothingChangedGivesAnEmptyListAndOtherFoldersStayOut) {
    ASSERT_TRUE(makeDirs(p("one")));
    ASSERT_TRUE(makeDirs(p("two")));
    START_RECORDER(recorder, {root_});
    const uint64_t position = FSEventsHistory::currentEventID();
    const auto quiet = FSEventsHistory::changedDirectories(root_, position, 20);
    EXPECT_EQ(quiet, ChangeSet::directories({}));

    ASSERT_TRUE(touchFile(p("one/x"), 10));
    ASSERT_TRUE(touchFile(p("two/y"), 10));
    EXPECT_EQ(FSEventsHistory::changedDirectories(p("two"), position, 20),
              ChangeSet::directories({p("two")}));
    // A path given with a trailing slash names the same folder.
    EXPECT_EQ(FSEventsHistory::changedDirectories(p("one") + "/", position, 20),
              ChangeSet::directories({p("one")}));
}

TEST_P(ChangeTracking, NewFileWithSeveralLinksIsCountedInFull) {
    ASSERT_TRUE(makeDirs(p("keep")));
    ASSERT_TRUE(touchFile(p("keep/old"), 100));
    START_RECORDER(recorder, {root_});
    const uint64_t position = FSEventsHistory::currentEventID();
    auto tree = freshScan(root_);
    ASSERT_TRUE(touchFile(p("keep/h1"), 50000));
    ASSERT_EQ(link(p("keep/h1").c_str(), p("keep/h2").c_str()), 0);
    ASSERT_FALSE(catchUp(*tree, position).needsFullRescan());

    auto refreshed = summarise(*tree);
    auto fresh = summarise(*freshScan(root_));
    const uint64_t full = refreshed[p("keep/h1")].first;
    ASSERT_GT(full, 0u);
    // The refresh counts both names in full; a scan counts the file once.
    EXPECT_EQ(refreshed[p("keep/h2")], std::make_pair(full, uint16_t{0}));
    EXPECT_EQ(refreshed[p("keep/h1")], std::make_pair(full, uint16_t{0}));
    const auto dup = NodeFlags::hardlinkDuplicate.rawValue();
    EXPECT_EQ((fresh[p("keep/h1")].second | fresh[p("keep/h2")].second) & dup, dup);
    EXPECT_EQ(fresh[p("keep/h1")].first + fresh[p("keep/h2")].first, full);
    EXPECT_EQ(refreshed[p("keep")].first, fresh[p("keep")].first + full);
    EXPECT_EQ(refreshed[root_].first, fresh[root_].first + full);
    for (const auto& path : {p("keep/h1"), p("keep/h2"), p("keep"), root_}) {
        refreshed.erase(path);
        fresh.erase(path);
    }
    EXPECT_EQ(differences(fresh, refreshed), "");
}

TEST_P(ChangeTracking, ExistingEntryKeepsItsFlagsWhenItStaysANonDirectory) {
    ASSERT_TRUE(touchFile(p("target"), 100));
    ASSERT_TRUE(touchFile(p("becomes-link"), 100));
    START_RECORDER(recorder, {root_});
    const uint64_t position = FSEventsHistory::currentEventID();
    auto tree = freshScan(root_);
    ASSERT_EQ(unlink(p("becomes-link").c_str()), 0);
    ASSERT_EQ(symlink("target", p("becomes-link").c_str()), 0);
    ASSERT_FALSE(catchUp(*tree, position).needsFullRescan());

    auto refreshed = summarise(*tree);
    auto fresh = summarise(*freshScan(root_));
    // Its size follows the disk, its flags stay those of the file it was.
    EXPECT_EQ(refreshed[p("becomes-link")].second, 0);
    EXPECT_EQ(fresh[p("becomes-link")].second, NodeFlags::symlink.rawValue());
    EXPECT_EQ(refreshed[p("becomes-link")].first, fresh[p("becomes-link")].first);
    refreshed.erase(p("becomes-link"));
    fresh.erase(p("becomes-link"));
    EXPECT_EQ(differences(fresh, refreshed), "");
}

TEST_P(ChangeTracking, NoRecorderNowOrARestartSinceMeansFullRescan) {
    START_RECORDER(recorder, {root_});
    const uint64_t position = FSEventsHistory::currentEventID();
    ASSERT_TRUE(recorder->stop());
    EXPECT_TRUE(FSEventsHistory::changedDirectories(root_, position, 20).needsFullRescan());

    START_RECORDER(again, {root_});
    EXPECT_GT(FSEventsHistory::currentEventID(), position);
    EXPECT_TRUE(FSEventsHistory::changedDirectories(root_, position, 20).needsFullRescan());
    // A snapshot from before any journal carries 0.
    EXPECT_TRUE(FSEventsHistory::changedDirectories(root_, 0, 20).needsFullRescan());
}

TEST_P(ChangeTracking, FolderOutsideTheWatchedRootsMeansFullRescan) {
    ASSERT_TRUE(makeDirs(p("inside")));
    ASSERT_TRUE(makeDirs(folders_.dir() / "elsewhere"));
    START_RECORDER(recorder, {p("inside")});
    const uint64_t position = FSEventsHistory::currentEventID();
    EXPECT_FALSE(FSEventsHistory::changedDirectories(p("inside"), position, 20).needsFullRescan());
    EXPECT_TRUE(FSEventsHistory::changedDirectories(root_, position, 20).needsFullRescan());
    EXPECT_TRUE(FSEventsHistory::changedDirectories(folders_.dir() / "elsewhere", position, 20)
                    .needsFullRescan());
}

TEST_P(ChangeTracking, RootDeletedOrMovedMeansFullRescanUntilItIsWatchedAgain) {
    ASSERT_TRUE(makeDirs(p("a")));
    START_RECORDER(recorder, {root_});
    const uint64_t before = FSEventsHistory::currentEventID();
    removeTree(root_);
    EXPECT_TRUE(FSEventsHistory::changedDirectories(root_, before, 20).needsFullRescan());

    // Once it exists again the recorder picks it up, with a gap for the time it was away.
    ASSERT_TRUE(makeDirs(p("b")));
    uint64_t back = 0;
    for (int i = 0; i < 500; ++i) {
        back = FSEventsHistory::currentEventID();
        if (!FSEventsHistory::changedDirectories(root_, back, 20).needsFullRescan()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    auto tree = freshScan(root_);
    ASSERT_TRUE(touchFile(p("b/new"), 4000));
    EXPECT_FALSE(catchUp(*tree, back).needsFullRescan());
    EXPECT_EQ(differences(summarise(*freshScan(root_)), summarise(*tree)), "");
    EXPECT_TRUE(FSEventsHistory::changedDirectories(root_, before, 20).needsFullRescan());

    // Moved away and replaced by another folder of the same name.
    const uint64_t beforeMove = FSEventsHistory::currentEventID();
    ASSERT_EQ(rename(root_.c_str(), (root_ + ".old").c_str()), 0);
    ASSERT_TRUE(makeDirs(root_));
    EXPECT_TRUE(FSEventsHistory::changedDirectories(root_, beforeMove, 20).needsFullRescan());
    removeTree(root_ + ".old");
}

TEST_P(ChangeTracking, QueueOverflowMeansFullRescanAndRecordingRecovers) {
    ASSERT_TRUE(makeDirs(p("burst")));
    RecorderProcess recorder(recorderOptions({root_}, GetParam()));
    if (!recorder.ready() && GetParam() == Mode::fanotify) GTEST_SKIP() << recorder.status();
    ASSERT_TRUE(recorder.ready()) << recorder.status();
    const uint64_t position = FSEventsHistory::currentEventID();

    recorder.pause();
    // More than the kernel queues (16384 events by default) while nobody reads them; the folder
    // made last surely lost its creation event.
    for (int i = 0; i < 20000; ++i) {
        const int fd =
            open((p("burst/f") + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        close(fd);
    }
    ASSERT_TRUE(makeDirs(p("burst/late")));
    recorder.resume();
    EXPECT_TRUE(FSEventsHistory::changedDirectories(root_, position, 20).needsFullRescan());

    const uint64_t after = FSEventsHistory::currentEventID();
    ASSERT_TRUE(touchFile(p("burst/late/x"), 10));
    const auto changes = FSEventsHistory::changedDirectories(root_, after, 20);
    EXPECT_EQ(changes, ChangeSet::directories({p("burst/late")}));
    EXPECT_EQ(recorder.stop(), 0);
}

TEST_P(ChangeTracking, NoAnswerWithinTheTimeoutMeansFullRescan) {
    RecorderProcess recorder(recorderOptions({root_}, GetParam()));
    if (!recorder.ready() && GetParam() == Mode::fanotify) GTEST_SKIP() << recorder.status();
    ASSERT_TRUE(recorder.ready()) << recorder.status();
    const uint64_t position = FSEventsHistory::currentEventID();
    recorder.pause();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(FSEventsHistory::changedDirectories(root_, position, 0.3).needsFullRescan());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    recorder.resume();
    EXPECT_FALSE(FSEventsHistory::changedDirectories(root_, position, 20).needsFullRescan());
    // Answers it could not give in time leave nothing behind.
    EXPECT_EQ(recorder.stop(), 0);
    for (const auto& e : std::filesystem::directory_iterator(folders_.journal()))
        EXPECT_FALSE(e.path().filename().string().starts_with("request-")) << e.path();
}

TEST_P(ChangeTracking, PositionTheJournalNoLongerHoldsMeansFullRescan) {
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(makeDirs(p("d" + std::to_string(i))));
    START_RECORDER(recorder, {root_}, {4096, 2});
    const uint64_t position = FSEventsHistory::currentEventID();
    // One record per folder: far more than two segments of 4 KiB hold.
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(touchFile(p("d" + std::to_string(i) + "/f"), 10));
    EXPECT_TRUE(FSEventsHistory::changedDirectories(root_, position, 20).needsFullRescan());
    size_t segments = 0;
    for (const auto& e : std::filesystem::directory_iterator(folders_.journal()))
        segments += e.path().filename().string().starts_with("segment-") ? 1 : 0;
    EXPECT_LE(segments, 2u);
    // Recent positions are still held.
    const uint64_t recent = FSEventsHistory::currentEventID();
    ASSERT_TRUE(touchFile(p("d7/g"), 10));
    EXPECT_EQ(FSEventsHistory::changedDirectories(root_, recent, 20),
              ChangeSet::directories({p("d7")}));
}

// The newest segment file of the journal.
std::string newestSegment(const std::string& journal) {
    std::string newest;
    for (const auto& e : std::filesystem::directory_iterator(journal)) {
        const auto name = e.path().filename().string();
        if (name.starts_with("segment-") && name > std::filesystem::path(newest).filename()) {
            newest = e.path().string();
        }
    }
    return newest;
}

TEST_P(ChangeTracking, DamagedOrTruncatedJournalMeansFullRescanNeverACrash) {
    ASSERT_TRUE(makeDirs(p("a")));
    START_RECORDER(recorder, {root_});
    const std::string journal = folders_.journal();

    // Garbage over the record that says what changed.
    uint64_t position = FSEventsHistory::currentEventID();
    ASSERT_TRUE(touchFile(p("a/one"), 10));
    (void)FSEventsHistory::currentEventID();
    std::string segment = newestSegment(journal);
    struct stat st;
    ASSERT_EQ(stat(segment.c_str(), &st), 0);
    {
        const int fd = open(segment.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const std::string junk(12, '\x5a');
        ASSERT_EQ(pwrite(fd, junk.data(), junk.size(), st.st_size - 20), 12);
        close(fd);
    }
    EXPECT_TRUE(FSEventsHistory::changedDirectories(root_, position, 20).needsFullRescan());

    // Cut off in the middle of a record.
    position = FSEventsHistory::currentEventID();
    ASSERT_TRUE(touchFile(p("a/two"), 10));
    (void)FSEventsHistory::currentEventID();
    ASSERT_EQ(stat(segment.c_str(), &st), 0);
    ASSERT_EQ(truncate(segment.c_str(), st.st_size - 7), 0);
    EXPECT_TRUE(FSEventsHistory::changedDirectories(root_, position, 20).needsFullRescan());

    // A damaged state file.
    ASSERT_TRUE(writeFile(journal + "/state", "not a state"));
    EXPECT_TRUE(FSEventsHistory::changedDirectories(root_, position, 20).needsFullRescan());

    // Records written after the damage read again.
    ASSERT_TRUE(touchFile(p("a/three"), 10));
    ASSERT_TRUE(touchFile(p("b"), 10));
    const uint64_t later = FSEventsHistory::currentEventID();
    ASSERT_TRUE(touchFile(p("a/four"), 10));
    EXPECT_EQ(FSEventsHistory::changedDirectories(p("a"), later, 20),
              ChangeSet::directories({p("a")}));

    // A whole segment of noise.
    std::string noise(1 << 16, '\0');
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>(i * 7919 % 251);
    ASSERT_TRUE(writeFile(segment, noise));
    EXPECT_TRUE(FSEventsHistory::changedDirectories(root_, later, 20).needsFullRescan());
    EXPECT_TRUE(recorder->stop());
}

TEST_P(ChangeTracking, FolderMovedAcrossRootsIsFollowed) {
    const std::string a = p("A"), b = p("B");
    ASSERT_TRUE(makeDirs(a + "/moving/deeper"));
    ASSERT_TRUE(touchFile(a + "/moving/deeper/x", 3000));
    ASSERT_TRUE(makeDirs(b));
    START_RECORDER(recorder, {a, b});
    const uint64_t position = FSEventsHistory::currentEventID();
    auto treeA = freshScan(a);
    auto treeB = freshScan(b);
    ASSERT_EQ(rename((a + "/moving").c_str(), (b + "/moving").c_str()), 0);
    ASSERT_TRUE(touchFile(b + "/moving/deeper/after", 5000));
    ASSERT_FALSE(catchUp(*treeA, position).needsFullRescan());
    ASSERT_FALSE(catchUp(*treeB, position).needsFullRescan());
    EXPECT_EQ(differences(summarise(*freshScan(a)), summarise(*treeA)), "");
    EXPECT_EQ(differences(summarise(*freshScan(b)), summarise(*treeB)), "");

    const uint64_t later = FSEventsHistory::currentEventID();
    ASSERT_TRUE(touchFile(b + "/moving/deeper/later", 10));
    EXPECT_EQ(FSEventsHistory::changedDirectories(b, later, 20),
              ChangeSet::directories({b + "/moving/deeper"}));
    EXPECT_EQ(FSEventsHistory::changedDirectories(a, later, 20), ChangeSet::directories({}));
}

TEST_P(ChangeTracking, BurstOfAHundredThousandCreationsIsRecordedOrReportedAsLost) {
    START_RECORDER(recorder, {root_});
    const uint64_t position = FSEventsHistory::currentEventID();
    auto tree = freshScan(root_);
    for (int d = 0; d < 10; ++d) {
        const std::string dir = p("burst" + std::to_string(d));
        ASSERT_TRUE(makeDirs(dir));
        for (int i = 0; i < 10000; ++i) {
            const int fd = open((dir + "/f" + std::to_string(i)).c_str(),
                                O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            ASSERT_GE(fd, 0);
            close(fd);
        }
    }
    // Either answer is right, as long as an incremental one is exact.
    const auto changes = catchUp(*tree, position);
    if (!changes.needsFullRescan()) {
        EXPECT_EQ(differences(summarise(*freshScan(root_)), summarise(*tree)), "");
    }
    const uint64_t after = FSEventsHistory::currentEventID();
    ASSERT_TRUE(touchFile(p("burst3/last"), 10));
    EXPECT_EQ(FSEventsHistory::changedDirectories(root_, after, 20),
              ChangeSet::directories({p("burst3")}));
}

TEST_P(ChangeTracking, RootReachedThroughALinkMapsReportedPathsBack) {
    const std::string real = p("real"), link = p("link");
    ASSERT_TRUE(makeDirs(real + "/inner"));
    ASSERT_EQ(symlink("real", link.c_str()), 0);
    START_RECORDER(recorder, {link});
    const uint64_t position = FSEventsHistory::currentEventID();
    auto tree = freshScan(link);
    ASSERT_EQ(tree->rootPath(), link);
    ASSERT_TRUE(touchFile(real + "/inner/new", 9000));
    ASSERT_TRUE(touchFile(real + "/top", 100));
    const auto changes = catchUp(*tree, position);
    ASSERT_FALSE(changes.needsFullRescan());
    EXPECT_TRUE(contains(changes, real + "/inner"));  // real paths come back
    EXPECT_EQ(differences(summarise(*freshScan(link)), summarise(*tree)), "");
}

TEST_P(ChangeTracking, JournalInsideTheTreeIsReportedAndRefreshed) {
    folders_.set(p("home"), p("home/.local/share"));
    ASSERT_TRUE(makeDirs(p("work")));
    START_RECORDER(recorder, {root_});
    const uint64_t position = FSEventsHistory::currentEventID();
    auto tree = freshScan(root_);
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(touchFile(p("work/f" + std::to_string(i)), 100));
    const auto changes = catchUp(*tree, position);
    ASSERT_FALSE(changes.needsFullRescan());
    EXPECT_TRUE(contains(changes, folders_.journal()));
    EXPECT_EQ(differences(summarise(*freshScan(root_)), summarise(*tree)), "");
    // Its own writes are never records, so a quiet tree stays quiet.
    const uint64_t quiet = FSEventsHistory::currentEventID();
    EXPECT_EQ(FSEventsHistory::changedDirectories(p("work"), quiet, 20),
              ChangeSet::directories({}));
}

TEST_P(ChangeTracking, MountBelowARootMeansFullRescan) {
    if (geteuid() != 0) GTEST_SKIP() << "needs a private mount namespace as root";
    ASSERT_TRUE(makeDirs(p("m")));
    const Mode mode = GetParam();
    const std::string root = root_;
    const auto result = runInChild([&]() -> std::string {
        if (unshare(CLONE_NEWNS) != 0) return "no namespace";
        if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return "no private";
        RecorderThread recorder(recorderOptions({root}, mode));
        if (!recorder.started()) return "no recorder";
        const uint64_t position = FSEventsHistory::currentEventID();
        if (mount("tmpfs", (root + "/m").c_str(), "tmpfs", 0, "size=1m") != 0) return "no mount";
        const bool full = FSEventsHistory::changedDirectories(root, position, 20).needsFullRescan();
        const uint64_t mounted = FSEventsHistory::currentEventID();
        umount2((root + "/m").c_str(), MNT_DETACH);
        const bool fullAgain =
            FSEventsHistory::changedDirectories(root, mounted, 20).needsFullRescan();
        return std::string(full ? "full" : "dirs") + (fullAgain ? " full" : " dirs");
    });
    if (mode == Mode::fanotify && result == std::optional<std::string>("no recorder")) {
        GTEST_SKIP() << "fanotify not available";
    }
    EXPECT_EQ(result, std::optional<std::string>("full full"));
}

INSTANTIATE_TEST_SUITE_P(Modes, ChangeTracking, ::testing::Values(Mode::inotify, Mode::fanotify),
                         modeName);

TEST(ChangeTrackingLimits, WatchLimitReachedMeansFullRescan) {
    ScopedUserFolders folders;
    const std::string root = folders.dir() / "tree";
    for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(makeDirs(root + "/d" + std::to_string(i)));
    // A user namespace of its own lets the child lower its watch limit without touching the
    // machine's.
    RecorderProcess recorder(recorderOptions({root}, Mode::inotify), [] {
        const uid_t uid = geteuid();
        const gid_t gid = getegid();
        if (unshare(CLONE_NEWUSER) != 0) return false;
        const auto put = [](const char* path, const std::string& text) {
            const int fd = open(path, O_WRONLY | O_CLOEXEC);
            if (fd < 0) return false;
            const bool ok = write(fd, text.data(), text.size()) == ssize_t(text.size());
            close(fd);
            return ok;
        };
        put("/proc/self/setgroups", "deny");
        return put("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") &&
               put("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1") &&
               put("/proc/sys/user/max_inotify_watches", "10");
    });
    if (recorder.status() == "prepare failed") GTEST_SKIP() << "no user namespace";
    ASSERT_TRUE(recorder.ready()) << recorder.status();
    const uint64_t position = FSEventsHistory::currentEventID();
    EXPECT_TRUE(FSEventsHistory::changedDirectories(root, position, 20).needsFullRescan());
    const auto state = ChangeJournal(folders.journal()).readState();
    ASSERT_TRUE(state);
    EXPECT_TRUE(state->incomplete);
    EXPECT_LE(state->watchedDirectories, 10u);
}

TEST(ChangeTrackingLimits, FolderTheRecorderMayNotWatchIsReportedInEveryReplay) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make a folder of another owner";
    ScopedUserFolders folders;
    const std::string root = folders.dir() / "tree";
    ASSERT_TRUE(makeDirs(root + "/secret/inner"));
    ASSERT_TRUE(makeDirs(root + "/open"));
    ASSERT_EQ(chmod((root + "/secret").c_str(), 0700), 0);
    // The journal belongs to the unprivileged user the recorder runs as.
    const std::string data = folders.dir() / "data";
    ASSERT_TRUE(makeDirs(data + "/Brimvale/Journal"));
    for (const auto& path : {data, data + "/Brimvale", data + "/Brimvale/Journal"})
        ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    RecorderProcess recorder(recorderOptions({root}, Mode::automatic),
                             [] { return dropPrivileges(); });
    ASSERT_TRUE(recorder.ready()) << recorder.status();
    ASSERT_EQ(recorder.status(), "ready inotify");

    const uint64_t position = FSEventsHistory::currentEventID();
    EXPECT_EQ(FSEventsHistory::changedDirectories(root, position, 20),
              ChangeSet::directories({root + "/secret"}));
    ASSERT_TRUE(touchFile(root + "/open/x", 10));
    EXPECT_EQ(FSEventsHistory::changedDirectories(root, position, 20),
              ChangeSet::directories({root + "/open", root + "/secret"}));
    // Once it may be watched it is like any other folder.
    ASSERT_EQ(chmod((root + "/secret").c_str(), 0755), 0);
    const uint64_t later = FSEventsHistory::currentEventID();
    ASSERT_TRUE(touchFile(root + "/open/y", 10));
    EXPECT_EQ(FSEventsHistory::changedDirectories(root, later, 20),
              ChangeSet::directories({root + "/open"}));
    ASSERT_TRUE(touchFile(root + "/secret/inner/z", 10));
    EXPECT_EQ(FSEventsHistory::changedDirectories(root + "/secret", later, 20),
              ChangeSet::directories({root + "/secret/inner"}));
}

TEST(ChangeTrackingLimits, SecondRecorderRefusesAndNamesTheFirst) {
    ScopedUserFolders folders;
    const std::string root = folders.dir() / "tree";
    ASSERT_TRUE(makeDirs(root));
    RecorderThread first(recorderOptions({root}, Mode::inotify));
    ASSERT_TRUE(first.started());
    RecorderThread second(recorderOptions({root}, Mode::inotify));
    ASSERT_FALSE(second.started());
    EXPECT_EQ(second.error()->kind, JournalRecorder::StartError::Kind::alreadyRunning);
    EXPECT_EQ(second.error()->otherPid, getpid());
    RecorderProcess third(recorderOptions({root}, Mode::inotify));
    EXPECT_EQ(third.status(),
              "error: another recorder is already running (pid " + std::to_string(getpid()) + ")");
    // The first one keeps recording undisturbed.
    const uint64_t position = FSEventsHistory::currentEventID();
    ASSERT_TRUE(touchFile(root + "/x", 10));
    EXPECT_EQ(FSEventsHistory::changedDirectories(root, position, 20),
              ChangeSet::directories({root}));
}

TEST(ChangeTrackingLimits, JournalFolderRemovedStopsTheRecorder) {
    ScopedUserFolders folders;
    const std::string root = folders.dir() / "tree";
    ASSERT_TRUE(makeDirs(root));
    RecorderThread recorder(recorderOptions({root}, Mode::inotify));
    ASSERT_TRUE(recorder.started());
    removeTree(folders.journal());
    EXPECT_TRUE(recorder.endsWithin(std::chrono::seconds(10)));
    EXPECT_FALSE(recorder.stop());
}

TEST(ChangeTrackingLimits, CurrentPositionIsZeroWithoutAJournalAndOnlyGrows) {
    ScopedUserFolders folders;
    const std::string root = folders.dir() / "tree";
    ASSERT_TRUE(makeDirs(root));
    EXPECT_EQ(FSEventsHistory::currentEventID(), 0u);
    uint64_t last = 0;
    for (int session = 0; session < 2; ++session) {
        RecorderThread recorder(recorderOptions({root}, Mode::inotify));
        ASSERT_TRUE(recorder.started());
        for (int i = 0; i < 3; ++i) {
            const uint64_t now = FSEventsHistory::currentEventID();
            EXPECT_GE(now, last);
            last = now;
            ASSERT_TRUE(touchFile(root + "/f" + std::to_string(i), 10));
        }
        ASSERT_TRUE(recorder.stop());
        const uint64_t stopped = FSEventsHistory::currentEventID();
        EXPECT_GT(stopped, last);
        last = stopped;
    }
}

}  // namespace
