#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <filesystem>
#include <random>
#include <thread>

#include "JournalFixture.h"
#include "QuenwickCore/DiskScanner.h"
#include "linux/OpenDirectory.h"

using quenwick::DiskScanner;
using quenwick::FileTree;
using quenwick::NodeFlags;
using quenwick::ScanControl;
using quenwick::ScanOptions;
using namespace quenwick::testing;

namespace {

void rescan(FileTree& tree, const std::vector<std::string>& directories, ScanOptions options = {}) {
    DiskScanner(std::move(options), 2).rescan(tree, directories);
}

bool has(const FileTree& tree, const std::string& path) {
    return tree.nodeAtPath(path).has_value();
}

TEST(DiskScannerRescan, RootOnlyChangeRefreshesJustTheRootListing) {
    TempDir dir;
    const std::string root = dir.path();
    ASSERT_TRUE(makeDirs(root + "/keep"));
    ASSERT_TRUE(touchFile(root + "/keep/x", 5000));
    ASSERT_TRUE(touchFile(root + "/gone.txt", 3000));
    ASSERT_TRUE(touchFile(root + "/grows", 10));
    auto tree = freshScan(root);
    const uint64_t keepSize = tree->size(*tree->nodeAtPath(root + "/keep"));

    ASSERT_TRUE(touchFile(root + "/new.txt", 2000));
    ASSERT_TRUE(makeDirs(root + "/newdir/inner"));
    ASSERT_TRUE(touchFile(root + "/newdir/inner/z", 9000));
    ASSERT_EQ(unlink((root + "/gone.txt").c_str()), 0);
    ASSERT_TRUE(touchFile(root + "/grows", 70000));
    ASSERT_TRUE(touchFile(root + "/keep/unlisted", 8000));
    rescan(*tree, {root});

    EXPECT_TRUE(has(*tree, root + "/new.txt"));
    EXPECT_TRUE(has(*tree, root + "/newdir/inner/z"));  // new folders are scanned whole
    EXPECT_FALSE(has(*tree, root + "/gone.txt"));
    // An existing folder keeps its contents until it is itself listed.
    EXPECT_FALSE(has(*tree, root + "/keep/unlisted"));
    EXPECT_EQ(tree->size(*tree->nodeAtPath(root + "/keep")), keepSize);
    auto fresh = summarise(*freshScan(root));
    auto refreshed = summarise(*tree);
    EXPECT_EQ(refreshed[root + "/grows"], fresh[root + "/grows"]);
    EXPECT_EQ(refreshed[root].first + fresh[root + "/keep/unlisted"].first, fresh[root].first);

    rescan(*tree, {root + "/keep"});
    EXPECT_EQ(differences(summarise(*freshScan(root)), summarise(*tree)), "");
}

TEST(DiskScannerRescan, PathInsideNewFoldersResolvesToTheNearestKnownFolder) {
    TempDir dir;
    const std::string root = dir.path();
    ASSERT_TRUE(makeDirs(root + "/p"));
    auto tree = freshScan(root);
    ASSERT_TRUE(makeDirs(root + "/p/n1/n2/n3"));
    ASSERT_TRUE(touchFile(root + "/p/n1/n2/n3/leaf", 4000));
    ASSERT_TRUE(touchFile(root + "/p/n1/side", 4000));
    rescan(*tree, {root + "/p/n1/n2/n3", root + "/p/n1/n2"});
    EXPECT_EQ(differences(summarise(*freshScan(root)), summarise(*tree)), "");
    // Each folder is listed once: the new ones were not appended twice.
    size_t n3 = 0;
    for (FileTree::Node n = 0; n < tree->count(); ++n)
        n3 += tree->nameBytes(n) == "n3" ? 1 : 0;
    EXPECT_EQ(n3, 1u);
}

TEST(DiskScannerRescan, EntryThatChangedKindIsReplacedAndNewFoldersScanned) {
    TempDir dir;
    const std::string root = dir.path();
    ASSERT_TRUE(touchFile(root + "/was-file", 5000));
    ASSERT_TRUE(makeDirs(root + "/was-dir/sub"));
    ASSERT_TRUE(touchFile(root + "/was-dir/sub/f", 5000));
    auto tree = freshScan(root);
    ASSERT_EQ(unlink((root + "/was-file").c_str()), 0);
    ASSERT_TRUE(makeDirs(root + "/was-file/deeper"));
    ASSERT_TRUE(touchFile(root + "/was-file/deeper/g", 12000));
    removeTree(root + "/was-dir");
    ASSERT_TRUE(touchFile(root + "/was-dir", 30000));
    // The vanished folder is listed too, as a journal would report it.
    rescan(*tree, {root, root + "/was-dir/sub"});
    EXPECT_TRUE(tree->isDirectory(*tree->nodeAtPath(root + "/was-file")));
    EXPECT_FALSE(tree->isDirectory(*tree->nodeAtPath(root + "/was-dir")));
    EXPECT_EQ(differences(summarise(*freshScan(root)), summarise(*tree)), "");
}

TEST(DiskScannerRescan, VanishedFolderLosesItsNode) {
    TempDir dir;
    const std::string root = dir.path();
    ASSERT_TRUE(makeDirs(root + "/a/b"));
    ASSERT_TRUE(touchFile(root + "/a/b/f", 5000));
    auto tree = freshScan(root);
    removeTree(root + "/a/b");
    // Only the vanished folder is named, not its parent.
    rescan(*tree, {root + "/a/b"});
    EXPECT_FALSE(has(*tree, root + "/a/b"));
    EXPECT_EQ(tree->size(0), 0u);
    EXPECT_EQ(differences(summarise(*freshScan(root)), summarise(*tree)), "");
}

TEST(DiskScannerRescan, PathsOutsideTheTreeAndExcludedPathsAreLeftAlone) {
    TempDir dir;
    const std::string root = dir / "root";
    ASSERT_TRUE(makeDirs(root + "/ex"));
    ASSERT_TRUE(makeDirs(dir / "rootsibling"));
    ScanOptions options;
    options.excludedPaths = {root + "/ex", root + "/later-ex"};
    auto tree = DiskScanner(options, 2).scan(root);
    const auto before = summarise(*tree);
    ASSERT_TRUE(touchFile(root + "/ex/f", 100));
    ASSERT_TRUE(touchFile(dir / "rootsibling/f", 100));
    rescan(*tree, {root + "/ex", dir / "rootsibling", "/", "relative/path", ""}, options);
    EXPECT_EQ(differences(before, summarise(*tree)), "");

    ASSERT_TRUE(makeDirs(root + "/later-ex"));
    ASSERT_TRUE(touchFile(root + "/visible", 100));
    rescan(*tree, {root}, options);
    EXPECT_FALSE(has(*tree, root + "/later-ex"));
    EXPECT_TRUE(has(*tree, root + "/visible"));
}

TEST(DiskScannerRescan, RealPathsBelowALinkedRootAreMappedBack) {
    TempDir dir;
    const std::string real = dir / "real", link = dir / "link";
    ASSERT_TRUE(makeDirs(real + "/sub"));
    ASSERT_EQ(symlink("real", link.c_str()), 0);
    auto tree = freshScan(link);
    ASSERT_TRUE(touchFile(real + "/sub/new", 6000));
    rescan(*tree, {real + "/sub"});
    EXPECT_TRUE(has(*tree, link + "/sub/new"));
    EXPECT_EQ(differences(summarise(*freshScan(link)), summarise(*tree)), "");
}

TEST(DiskScannerRescan, NewMountPointIsMarkedAndNotEntered) {
    if (!canMountPrivateTmpfs()) GTEST_SKIP() << "no private mount namespace";
    TempDir dir;
    const std::string root = dir.path();
    ASSERT_TRUE(makeDirs(root + "/plain"));
    const auto result = runInChild([&]() -> std::string {
        auto tree = freshScan(root);
        if (mkdir((root + "/mnt").c_str(), 0755) != 0) return "mkdir";
        if (!mountPrivateTmpfs(root + "/mnt")) return "mount";
        if (!writeFileOfSize(root + "/mnt/inside", 100)) return "write";
        DiskScanner(ScanOptions::forVolume(root), 2).rescan(*tree, {root});
        const auto mnt = tree->nodeAtPath(root + "/mnt");
        if (!mnt) return "missing";
        const bool marked = tree->flags(*mnt).contains(NodeFlags::mountPoint);
        const bool empty = tree->children(*mnt).empty();
        const std::string same = differences(summarise(*freshScan(root)), summarise(*tree));
        return std::string(marked ? "marked" : "unmarked") + (empty ? " empty" : " entered") +
               (same.empty() ? " same" : " " + same);
    });
    EXPECT_EQ(result, std::optional<std::string>("marked empty same"));
}

TEST(DiskScannerRescan, FolderThatCannotBeListedLosesItsChildrenUntilItIsReadableAgain) {
    TempDir dir;
    const std::string root = dir / "tree";
    ASSERT_TRUE(makeDirs(root + "/locked/inner"));
    ASSERT_TRUE(touchFile(root + "/locked/inner/f", 5000));
    ASSERT_TRUE(touchFile(root + "/locked/g", 5000));
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        ASSERT_EQ(lchown(e.path().c_str(), 65534, 65534), geteuid() == 0 ? 0 : -1);
    }
    if (geteuid() == 0) {
        ASSERT_EQ(chown(root.c_str(), 65534, 65534), 0);
    }
    const auto result = runInChild([&]() -> std::string {
        if (!dropPrivileges()) return "privileges";
        auto tree = freshScan(root);
        std::string out;
        if (chmod((root + "/locked").c_str(), 0) != 0) return "chmod";
        if (!DiskScanner::newlyReadable(*tree).empty()) return "listed too early";
        DiskScanner(ScanOptions::forVolume(root), 2).rescan(*tree, {root + "/locked"});
        const auto locked = *tree->nodeAtPath(root + "/locked");
        out += tree->flags(locked).contains(NodeFlags::unreadable) ? "unreadable" : "readable";
        out += tree->children(locked).empty() && tree->size(locked) == 0 ? " empty" : " full";
        out += DiskScanner::newlyReadable(*tree).empty() ? " none" : " listed";
        chmod((root + "/locked").c_str(), 0755);
        const auto again = DiskScanner::newlyReadable(*tree);
        out += again == std::vector<std::string>{root + "/locked"} ? " listed" : " missing";
        DiskScanner(ScanOptions::forVolume(root), 2).rescan(*tree, again);
        const std::string same = differences(summarise(*freshScan(root)), summarise(*tree));
        return out + (same.empty() ? " same" : " " + same);
    });
    EXPECT_EQ(result, std::optional<std::string>("unreadable empty none listed same"));
}

TEST(DiskScannerRescan, NewlyReadableListsOnlyLiveUnreadableFoldersThatOpen) {
    TempDir dir;
    const std::string root = dir.path();
    ASSERT_TRUE(makeDirs(root + "/opens"));
    ASSERT_TRUE(makeDirs(root + "/dead"));
    ASSERT_TRUE(makeDirs(root + "/fine"));
    ASSERT_TRUE(touchFile(root + "/file", 10));
    FileTree tree(root);
    const auto unreadableDir = NodeFlags::directory | NodeFlags::unreadable;
    tree.append(FileTree::root, "missing", 0, 0, 1, unreadableDir);
    const auto opens = tree.append(FileTree::root, "opens", 0, 0, 2, unreadableDir);
    const auto dead = tree.append(FileTree::root, "dead", 0, 0, 3, unreadableDir);
    tree.append(FileTree::root, "fine", 0, 0, 4, NodeFlags::directory);
    tree.append(FileTree::root, "file", 10, 0, 5, NodeFlags::unreadable);
    tree.append(opens, "below", 0, 0, 6, unreadableDir);
    tree.remove(dead);
    EXPECT_EQ(DiskScanner::newlyReadable(tree), std::vector<std::string>{root + "/opens"});
    tree.setFlags(FileTree::root, unreadableDir);
    EXPECT_EQ(DiskScanner::newlyReadable(tree), (std::vector<std::string>{root, root + "/opens"}));
}

TEST(DiskScannerRescan, ControlCancelDuringRescanLeavesAConsistentTreeOrAWholeOne) {
    TempDir dir;
    const std::string root = dir.path();
    for (int d = 0; d < 12; ++d) {
        ASSERT_TRUE(makeDirs(root + "/old" + std::to_string(d)));
    }
    const auto shown = freshScan(root);
    // Every old folder gains files and a new subtree, so the rescan has plenty to do.
    for (int d = 0; d < 12; ++d) {
        const std::string folder = root + "/old" + std::to_string(d);
        for (int f = 0; f < 10; ++f)
            ASSERT_TRUE(touchFile(folder + "/f" + std::to_string(f), 100));
        ASSERT_TRUE(makeDirs(folder + "/new/deeper"));
        ASSERT_TRUE(touchFile(folder + "/new/deeper/z", 4000));
        for (int sub = 0; sub < 6; ++sub) {
            const std::string below = folder + "/new/s" + std::to_string(sub);
            ASSERT_TRUE(makeDirs(below));
            for (int f = 0; f < 15; ++f)
                ASSERT_TRUE(touchFile(below + "/g" + std::to_string(f), 10));
        }
    }
    std::vector<std::string> changed{root};
    for (int d = 0; d < 12; ++d)
        changed.push_back(root + "/old" + std::to_string(d));
    const auto whole = summarise(*freshScan(root));
    const auto before = summarise(*shown);

    // Cancelled before it starts: nothing is refreshed.
    {
        auto copy = shown->clone();
        ScanControl control;
        control.cancel();
        DiskScanner(ScanOptions{}, 2).rescan(*copy, changed, &control);
        EXPECT_TRUE(control.interrupted());
        EXPECT_EQ(differences(before, summarise(*copy)), "");
    }
    std::mt19937 rng(9);
    int interrupted = 0;
    // Cancels land anywhere within the time an uncancelled rescan takes (the quickest of three).
    int64_t span = INT64_MAX;
    for (int i = 0; i < 3; ++i) {
        auto copy = shown->clone();
        const auto took = raceCancel(
            std::chrono::microseconds(0), [] {},
            [&] { DiskScanner(ScanOptions{}, 2).rescan(*copy, changed); });
        span = std::max<int64_t>(1, std::min<int64_t>(span, took.count()));
    }
    for (int round = 0; round < 60; ++round) {
        auto copy = shown->clone();
        ScanControl control;
        DiskScanner scanner(ScanOptions{}, 2);
        (void)raceCancel(
            std::chrono::microseconds(rng() % span), [&] { control.cancel(); },
            [&] { scanner.rescan(*copy, changed, &control); });
        ASSERT_TRUE(control.finished());
        for (FileTree::Node n = 0; n < copy->count(); ++n) {
            if (!copy->isDirectory(n) || copy->flags(n).contains(NodeFlags::dead)) continue;
            uint64_t sum = 0;
            for (auto c : copy->children(n))
                sum += copy->size(c);
            ASSERT_EQ(sum, copy->size(n)) << copy->path(n) << " round " << round;
        }
        if (control.interrupted()) {
            ++interrupted;
        } else {
            EXPECT_EQ(differences(whole, summarise(*copy)), "") << "round " << round;
        }
    }
    EXPECT_GT(interrupted, 0) << "no round was cut short; the race was not exercised";
    EXPECT_EQ(differences(before, summarise(*shown)), "") << "only copies were refreshed";
}

TEST(DiskScannerRescan, RescanOfACloneLeavesTheShownTreeUntouchedForItsReader) {
    TempDir dir;
    const std::string root = dir.path();
    for (int d = 0; d < 20; ++d) {
        const std::string folder = root + "/d" + std::to_string(d);
        ASSERT_TRUE(makeDirs(folder));
        for (int f = 0; f < 20; ++f)
            ASSERT_TRUE(touchFile(folder + "/f" + std::to_string(f), 1000));
    }
    const std::shared_ptr<const FileTree> shown = freshScan(root);
    const auto before = summarise(*shown);
    const size_t count = shown->count();
    const uint64_t total = shown->size(FileTree::root);

    for (int d = 0; d < 20; ++d) {
        const std::string folder = root + "/d" + std::to_string(d);
        ASSERT_EQ(unlink((folder + "/f0").c_str()), 0);
        ASSERT_TRUE(makeDirs(folder + "/added"));
        ASSERT_TRUE(touchFile(folder + "/added/big", 50000));
    }
    std::vector<std::string> changed;
    for (int d = 0; d < 20; ++d)
        changed.push_back(root + "/d" + std::to_string(d));

    // The window keeps reading what it shows while the refresh runs on a copy.
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<bool> steady{true};
    std::jthread reader([&] {
        while (!done) {
            uint64_t sum = 0;
            for (auto c : shown->children(FileTree::root))
                sum += shown->size(c);
            if (sum != total || shown->count() != count || !shown->nodeAtPath(root + "/d7/f0")) {
                steady = false;
            }
            ++reads;
        }
    });
    // On a busy machine the reader may not have run yet; the refresh must overlap a read.
    while (reads == 0)
        std::this_thread::yield();
    auto copy = shown->clone();
    DiskScanner(ScanOptions{}, 2).rescan(*copy, changed);
    done = true;
    reader.join();

    EXPECT_TRUE(steady);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(differences(before, summarise(*shown)), "");
    EXPECT_EQ(differences(summarise(*freshScan(root)), summarise(*copy)), "");
    EXPECT_FALSE(copy->nodeAtPath(root + "/d7/f0"));
}

}  // namespace

namespace {

TEST(DiskScannerRescan, FolderNamedDotDotInATreeNeverLeadsAboveTheRoot) {
    TempDir dir;
    const std::string root = dir.path() + "/root";
    ASSERT_TRUE(makeDirs(root + "/sub"));
    ASSERT_TRUE(touchFile(dir.path() + "/outside", 70000));
    ASSERT_TRUE(touchFile(root + "/sub/inside", 1000));
    // A tree from elsewhere (a hostile snapshot) with folders whose names climb out.
    auto tree = freshScan(root);
    const auto up = tree->append(FileTree::root, "..", 0, 0, 0, NodeFlags::directory);
    tree->append(*tree->nodeAtPath(root + "/sub"), "..", 0, 0, 0, NodeFlags::directory);
    tree->append(up, "..", 0, 0, 0, NodeFlags::directory);
    rescan(*tree, {root + "/..", root + "/sub/..", root + "/../.."});
    for (FileTree::Node n = 0; n < tree->count(); ++n) {
        if (tree->flags(n).contains(NodeFlags::dead)) continue;
        EXPECT_NE(tree->name(n), "outside") << tree->path(n);
    }
    EXPECT_LT(tree->size(FileTree::root), 70000u);
}

TEST(DiskScannerRescan, OpeningBeneathTheRootRefusesEveryWayOut) {
    TempDir dir;
    ASSERT_TRUE(makeDirs(dir.path() + "/root/sub"));
    const int rootFd = open((dir.path() + "/root").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(rootFd, 0);
    // Deeper than PATH_MAX, so that the component-by-component walk is taken.
    std::string deep;
    while (deep.size() < PATH_MAX + 16)
        deep += "sub/../";
    for (const std::string& way : {std::string(".."), std::string("sub/../.."),
                                   std::string("sub/../../root"), deep + "..", deep}) {
        const int fd = quenwick::detail::openDirectoryBeneath(rootFd, way);
        EXPECT_LT(fd, 0) << way.substr(0, 40);
        if (fd >= 0) close(fd);
    }
    const int fine = quenwick::detail::openDirectoryBeneath(rootFd, "sub");
    EXPECT_GE(fine, 0);
    if (fine >= 0) close(fine);
    close(rootFd);
}

}  // namespace
