#include "QuenwickCore/DiskScanner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>

#include "TestSupport.h"
#include "linux/OpenDirectory.h"

using quenwick::DiskScanner;
using quenwick::FileTree;
using quenwick::NodeFlags;
using quenwick::ScanControl;
using quenwick::ScanOptions;
using quenwick::ScanProgress;
using quenwick::testing::TempDir;
using quenwick::testing::writeFile;
using quenwick::testing::writeFileOfSize;

namespace {

uint64_t allocated(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_blocks) * 512 : 0;
}

// Every folder's size must equal the sum of its live children's.
bool sizesAreConsistent(const FileTree& tree) {
    for (FileTree::Node n = 0; n < tree.count(); ++n) {
        if (!tree.isDirectory(n)) continue;
        uint64_t sum = 0;
        for (auto c : tree.children(n))
            sum += tree.size(c);
        if (sum != tree.size(n)) return false;
    }
    return true;
}

std::shared_ptr<FileTree> scan(const std::string& path, int workers = 2) {
    return DiskScanner(ScanOptions::forVolume(path), workers).scan(path);
}

TEST(DiskScanner, TreeMatchesTheFoldersFilesAndSizes) {
    TempDir dir;
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / "a/b/c"));
    ASSERT_TRUE(writeFileOfSize(dir / "a/one", 5000));
    ASSERT_TRUE(writeFileOfSize(dir / "a/b/two", 70000));
    ASSERT_TRUE(writeFileOfSize(dir / "a/b/c/three", 1));
    ASSERT_TRUE(writeFile(dir / "top", ""));
    auto tree = scan(dir.path());
    EXPECT_EQ(tree->count(), 8u);
    const auto expected = allocated(dir / "a/one") + allocated(dir / "a/b/two") +
                          allocated(dir / "a/b/c/three") + allocated(dir / "top");
    EXPECT_EQ(tree->size(0), expected);
    const auto b = tree->nodeAtPath(dir / "a/b");
    ASSERT_TRUE(b);
    EXPECT_TRUE(tree->flags(*b).contains(NodeFlags::directory));
    EXPECT_EQ(tree->size(*b), allocated(dir / "a/b/two") + allocated(dir / "a/b/c/three"));
    const auto three = tree->nodeAtPath(dir / "a/b/c/three");
    ASSERT_TRUE(three);
    struct stat st;
    ASSERT_EQ(lstat((dir / "a/b/c/three").c_str(), &st), 0);
    EXPECT_EQ(tree->inode(*three), st.st_ino);
    EXPECT_EQ(tree->mtime(*three), st.st_mtim.tv_sec);
    EXPECT_TRUE(sizesAreConsistent(*tree));
}

TEST(DiskScanner, HardLinkCountedOnceAcrossFolders) {
    TempDir dir;
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / "x"));
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / "y"));
    ASSERT_TRUE(writeFileOfSize(dir / "x/data", 100000));
    ASSERT_EQ(link((dir / "x/data").c_str(), (dir / "y/data").c_str()), 0);
    ASSERT_EQ(link((dir / "x/data").c_str(), (dir / "x/again").c_str()), 0);
    const uint64_t one = allocated(dir / "x/data");
    for (int round = 0; round < 20; ++round) {  // the first name seen depends on timing
        auto tree = scan(dir.path(), 4);
        int full = 0, duplicates = 0;
        for (const char* p : {"x/data", "y/data", "x/again"}) {
            const auto n = *tree->nodeAtPath(dir / p);
            if (tree->flags(n).contains(NodeFlags::hardlinkDuplicate)) {
                ++duplicates;
                EXPECT_EQ(tree->size(n), 0u);
            } else {
                ++full;
                EXPECT_EQ(tree->size(n), one);
            }
        }
        EXPECT_EQ(full, 1);
        EXPECT_EQ(duplicates, 2);
        EXPECT_EQ(tree->size(0), one);
    }
}

TEST(DiskScanner, LinksAreLeavesAndLoopsEndTheScan) {
    TempDir dir;
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / "big"));
    ASSERT_TRUE(writeFileOfSize(dir / "big/blob", 1 << 20));
    ASSERT_EQ(symlink((dir / "big").c_str(), (dir / "to-big").c_str()), 0);
    ASSERT_EQ(symlink(".", (dir / "big/self").c_str()), 0);
    ASSERT_EQ(symlink("loop-b", (dir / "loop-a").c_str()), 0);
    ASSERT_EQ(symlink("loop-a", (dir / "loop-b").c_str()), 0);
    auto tree = scan(dir.path());
    const auto link = *tree->nodeAtPath(dir / "to-big");
    EXPECT_TRUE(tree->flags(link).contains(NodeFlags::symlink));
    EXPECT_FALSE(tree->flags(link).contains(NodeFlags::directory));
    EXPECT_TRUE(tree->children(link).empty());
    EXPECT_LT(tree->size(link), 8192u);
    EXPECT_EQ(tree->count(), 7u);
}

TEST(DiskScanner, PackagesAreMarkedByExtensionAndStillEntered) {
    TempDir dir;
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / "Photos.PhotosLibrary/originals"));
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / ".app"));
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / "archive.tar"));
    ASSERT_TRUE(writeFile(dir / "note.app", "a file is never a package"));
    auto tree = scan(dir.path());
    const auto lib = *tree->nodeAtPath(dir / "Photos.PhotosLibrary");
    EXPECT_EQ(tree->flags(lib), NodeFlags::directory | NodeFlags::package);
    EXPECT_EQ(tree->children(lib).size(), 1u);
    EXPECT_EQ(tree->flags(*tree->nodeAtPath(dir / ".app")), NodeFlags::directory);
    EXPECT_EQ(tree->flags(*tree->nodeAtPath(dir / "archive.tar")), NodeFlags::directory);
    EXPECT_EQ(tree->flags(*tree->nodeAtPath(dir / "note.app")), NodeFlags());
}

TEST(DiskScanner, ExcludedPathsGetNoNodeAndNoBytes) {
    TempDir dir;
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / "skip/deep"));
    ASSERT_TRUE(writeFileOfSize(dir / "skip/deep/blob", 50000));
    ASSERT_TRUE(writeFileOfSize(dir / "keep", 4096));
    ScanOptions options;
    options.excludedPaths = {dir / "skip"};
    auto tree = DiskScanner(options, 2).scan(dir.path());
    EXPECT_EQ(tree->nodeAtPath(dir / "skip"), std::nullopt);
    EXPECT_EQ(tree->count(), 2u);
    EXPECT_EQ(tree->size(0), allocated(dir / "keep"));
}

TEST(DiskScanner, UnreadableFolderIsMarkedAndHasNoChildren) {
    TempDir dir;
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / "locked/inside"));
    ASSERT_TRUE(writeFileOfSize(dir / "locked/inside/blob", 9000));
    ASSERT_TRUE(writeFileOfSize(dir / "open", 9000));
    ASSERT_EQ(chmod((dir / "locked").c_str(), 0), 0);
    const auto out = quenwick::testing::runInChild([&]() -> std::string {
        if (!quenwick::testing::dropPrivileges()) return "cannot drop";
        auto tree = scan(dir.path());
        const auto locked = tree->nodeAtPath(dir / "locked");
        if (!locked) return "missing";
        return std::to_string(tree->flags(*locked).rawValue()) + " " +
               std::to_string(tree->children(*locked).size()) + " " +
               std::to_string(tree->size(*locked)) + " " + std::to_string(tree->size(0));
    });
    ASSERT_TRUE(out);
    const auto flags = (NodeFlags::directory | NodeFlags::unreadable).rawValue();
    EXPECT_EQ(*out, std::to_string(flags) + " 0 0 " + std::to_string(allocated(dir / "open")));
}

TEST(DiskScanner, RootThatCannotBeListedIsALoneUnreadableRoot) {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir / "file", "x"));
    for (const std::string& path : {dir / "file", dir / "missing"}) {
        auto tree = scan(path);
        EXPECT_EQ(tree->count(), 1u);
        EXPECT_TRUE(tree->flags(0).contains(NodeFlags::unreadable));
        EXPECT_EQ(tree->size(0), 0u);
    }
}

TEST(DiskScanner, OtherFileSystemIsAMountPointAndNotEntered) {
    if (!quenwick::testing::canMountPrivateTmpfs()) GTEST_SKIP() << "no private mount namespace";
    TempDir dir;
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / "mnt"));
    ASSERT_TRUE(writeFileOfSize(dir / "local", 4096));
    const auto out = quenwick::testing::runInChild([&]() -> std::string {
        if (!quenwick::testing::mountPrivateTmpfs(dir / "mnt")) return "mount failed";
        if (!writeFileOfSize(dir / "mnt/hidden", 1 << 20)) return "write failed";
        auto tree = scan(dir.path());
        const auto mnt = tree->nodeAtPath(dir / "mnt");
        if (!mnt) return "missing";
        std::string report = std::to_string(tree->flags(*mnt).rawValue()) + " " +
                             std::to_string(tree->children(*mnt).size()) + " " +
                             std::to_string(tree->size(0));
        // Scanning the mount itself enters it: the root's device becomes the allowed one.
        auto inner = scan(dir / "mnt");
        return report + " " + std::to_string(inner->count());
    });
    ASSERT_TRUE(out);
    const auto flags = (NodeFlags::directory | NodeFlags::mountPoint).rawValue();
    EXPECT_EQ(*out,
              std::to_string(flags) + " 0 " + std::to_string(allocated(dir / "local")) + " 2");
}

TEST(DiskScanner, AwkwardEntriesNeitherCrashNorHang) {
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    const bool haveDevice = mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    const std::string odd = "new\nline \xC3\x28 bad";
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / odd));
    ASSERT_TRUE(writeFileOfSize(dir / odd + "/in\xFF", 3000));
    auto tree = scan(dir.path());
    EXPECT_EQ(tree->count(), haveDevice ? 5u : 4u);
    const auto n = tree->nodeAtPath(dir / odd + "/in\xFF");
    ASSERT_TRUE(n);
    // The exact bytes lead back to the file on disk.
    EXPECT_EQ(allocated(tree->path(*n)), tree->size(*n));
    EXPECT_GT(tree->size(*n), 0u);
}

TEST(DiskScanner, NestingDeeperThanThePathLimitIsScannedWhole) {
    TempDir dir;
    const int levels = 5000;
    int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < levels; ++i) {
        ASSERT_EQ(mkdirat(fd, "d", 0755), 0);
        const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
        ASSERT_GE(fd, 0);
    }
    const int file = openat(fd, "bottom", O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(write(file, "data", 4), 4);
    close(file);
    close(fd);
    auto tree = scan(dir.path());
    EXPECT_EQ(tree->count(), static_cast<size_t>(levels + 2));
    uint64_t unreadable = 0;
    for (FileTree::Node n = 0; n < tree->count(); ++n) {
        unreadable += tree->flags(n).contains(NodeFlags::unreadable);
    }
    EXPECT_EQ(unreadable, 0u);
    EXPECT_GT(tree->size(0), 0u);
}

TEST(DiskScanner, FolderReplacedByALinkIsNeverFollowed) {
    TempDir dir;
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / "a/b"));
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / "elsewhere"));
    const int root = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    int fd = quenwick::detail::openDirectoryBeneath(root, "a/b");
    EXPECT_GE(fd, 0);
    close(fd);
    // Swap b, then a, for links, as another process might between listing and opening.
    ASSERT_EQ(rename((dir / "a/b").c_str(), (dir / "a/b-old").c_str()), 0);
    ASSERT_EQ(symlink((dir / "elsewhere").c_str(), (dir / "a/b").c_str()), 0);
    fd = quenwick::detail::openDirectoryBeneath(root, "a/b");
    EXPECT_LT(fd, 0);
    ASSERT_EQ(rename((dir / "a").c_str(), (dir / "a-old").c_str()), 0);
    ASSERT_EQ(symlink((dir / "a-old").c_str(), (dir / "a").c_str()), 0);
    fd = quenwick::detail::openDirectoryBeneath(root, "a/b-old");
    EXPECT_LT(fd, 0);
    close(root);
}

TEST(DiskScanner, ExpectedCountReservesFivePercentMore) {
    TempDir dir;
    auto tree = DiskScanner({}, 1).scan(dir.path(), 1000);
    EXPECT_EQ(tree->storage().parents.capacity(), 1050u);
    auto none = DiskScanner({}, 1).scan(dir.path(), 0);
    EXPECT_LT(none->storage().parents.capacity(), 1050u);
}

void makeWideTree(const TempDir& dir, int folders, int filesEach) {
    for (int d = 0; d < folders; ++d) {
        const std::string folder = dir / ("f" + std::to_string(d));
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        for (int f = 0; f < filesEach; ++f) {
            ASSERT_TRUE(writeFile(folder + "/" + std::to_string(f), "x"));
        }
    }
}

TEST(DiskScanner, QuickScanReportsNoProgressAndSlowOnesAreSpaced) {
    TempDir dir;
    makeWideTree(dir, 40, 50);
    std::atomic<int> reports{0};
    DiskScanner slow({}, 2, std::chrono::milliseconds(100000));
    (void)slow.scan(dir.path(), 0, [&](const ScanProgress&) { ++reports; });
    EXPECT_EQ(reports.load(), 0);

    std::mutex mutex;
    std::vector<ScanProgress> seen;
    DiskScanner fast({}, 2, std::chrono::milliseconds(0));
    auto tree = fast.scan(dir.path(), 0, [&](const ScanProgress& p) {
        std::lock_guard lock(mutex);
        seen.push_back(p);
    });
    ASSERT_FALSE(seen.empty());
    int64_t maxFiles = 0;
    for (const auto& p : seen)
        maxFiles = std::max(maxFiles, p.files);
    EXPECT_EQ(maxFiles, 40 * 50);  // the last report comes after the last listing
}

TEST(DiskScanner, CancelRacingCompletionAlwaysEndsWithAConsistentTree) {
    TempDir dir;
    makeWideTree(dir, 30, 10);
    std::mt19937 rng(3);
    DiskScanner scanner({}, 3);
    for (int round = 0; round < 60; ++round) {
        const auto delay = std::chrono::microseconds(rng() % 3000);
        std::jthread canceller([&] {
            std::this_thread::sleep_for(delay);
            scanner.cancel();
        });
        auto tree = scanner.scan(dir.path());
        canceller.join();
        EXPECT_TRUE(sizesAreConsistent(*tree));
        EXPECT_LE(tree->count(), 331u);
    }
    // A cancel before a scan does not leak into the next one.
    scanner.cancel();
    EXPECT_EQ(scanner.scan(dir.path())->count(), 331u);
}

TEST(DiskScanner, ControlCancelledBeforeTheScanStartsStopsThatScan) {
    TempDir dir;
    makeWideTree(dir, 5, 4);
    DiskScanner scanner({}, 2);
    ScanControl control;
    control.cancel();  // Stop pressed right after choosing the target
    auto tree = scanner.scan(dir.path(), 0, nullptr, &control);
    EXPECT_EQ(tree->count(), 1u);
    EXPECT_TRUE(control.interrupted());
    EXPECT_TRUE(control.finished());
    // The flag is the control's: the scanner's next scan with a fresh one is whole.
    ScanControl fresh;
    EXPECT_EQ(scanner.scan(dir.path(), 0, nullptr, &fresh)->count(), 26u);
    EXPECT_FALSE(fresh.interrupted());
}

TEST(DiskScanner, ControlCancelRacingCompletionEndsWholeOrInterrupted) {
    TempDir dir;
    makeWideTree(dir, 30, 10);
    std::mt19937 rng(5);
    DiskScanner scanner({}, 3);
    int interrupted = 0;
    // Cancels land anywhere within the time an uncancelled scan takes (the quickest of three).
    int64_t span = INT64_MAX;
    for (int i = 0; i < 3; ++i) {
        const auto took = quenwick::testing::raceCancel(
            std::chrono::microseconds(0), [] {}, [&] { (void)scanner.scan(dir.path()); });
        span = std::max<int64_t>(1, std::min<int64_t>(span, took.count()));
    }
    for (int round = 0; round < 150; ++round) {
        ScanControl control;
        std::shared_ptr<FileTree> tree;
        (void)quenwick::testing::raceCancel(
            std::chrono::microseconds(rng() % span), [&] { control.cancel(); },
            [&] { tree = scanner.scan(dir.path(), 0, nullptr, &control); });
        EXPECT_TRUE(sizesAreConsistent(*tree));
        if (control.interrupted()) {
            ++interrupted;
            EXPECT_LE(tree->count(), 331u);
        } else {
            EXPECT_EQ(tree->count(), 331u) << "not interrupted means whole, round " << round;
        }
    }
    EXPECT_GT(interrupted, 0) << "no round was cut short; the race was not exercised";
}

TEST(DiskScanner, ControlCountersCanBeReadWhileTheScanRuns) {
    TempDir dir;
    makeWideTree(dir, 40, 50);
    DiskScanner scanner({}, 2);
    ScanControl control;
    std::atomic<bool> monotonic{true};
    std::jthread reader([&](std::stop_token stop) {
        int64_t lastFiles = 0;
        int64_t lastFolders = 0;
        while (!stop.stop_requested() && !control.finished()) {
            const int64_t files = control.files();
            const int64_t folders = control.folders();
            if (files < lastFiles || folders < lastFolders) monotonic = false;
            lastFiles = files;
            lastFolders = folders;
        }
    });
    auto tree = scanner.scan(dir.path(), 0, nullptr, &control);
    reader.join();
    EXPECT_TRUE(monotonic);
    EXPECT_TRUE(control.finished());
    EXPECT_EQ(control.files(), 40 * 50);
    EXPECT_EQ(control.folders(), 41);
    EXPECT_EQ(control.bytes(), tree->size(FileTree::root));
}

TEST(DiskScanner, ScanAgreesWithDuOnASystemFolder) {
    const std::string target = "/usr/include";
    struct stat st;
    if (stat(target.c_str(), &st) != 0) GTEST_SKIP() << "no " << target;
    const auto run = [](const std::string& command) {
        std::string out;
        if (FILE* p = popen(command.c_str(), "r")) {
            char buf[256];
            while (fgets(buf, sizeof buf, p))
                out += buf;
            pclose(p);
        }
        return out;
    };
    const uint64_t du = std::stoull(run("du -sx -B1 " + target + " | cut -f1"));
    // The tree stores nothing for a folder's own entry, du does: take that out.
    const uint64_t folders = std::stoull(
        run("find " + target + " -xdev -type d -printf '%b\\n' | awk '{s+=$1} END {print s*512}'"));
    auto tree = scan(target);
    EXPECT_EQ(tree->size(0), du - folders);
}

}  // namespace

namespace {

TEST(DiskScanner, FolderOfAMillionEntriesIsListedWhole) {
    // In memory when a private tmpfs is possible: a million creations on disk take minutes.
    const bool inMemory = quenwick::testing::canMountPrivateTmpfs();
#if defined(__SANITIZE_ADDRESS__)
    const int count = 100000;  // the sanitizers' build proves memory safety, not scale
#else
    const int count = inMemory ? 1000000 : 100000;
#endif
    TempDir dir;
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / "huge"));
    const auto out = quenwick::testing::runInChild([&]() -> std::string {
        if (inMemory &&
            !quenwick::testing::mountPrivateTmpfs(dir.path(), "size=16m,nr_inodes=2m")) {
            return "mount failed";
        }
        if (mkdir((dir / "huge").c_str(), 0755) != 0 && errno != EEXIST) return "mkdir failed";
        const int dfd = open((dir / "huge").c_str(), O_RDONLY | O_DIRECTORY);
        char name[16];
        for (int i = 0; i < count; ++i) {
            std::snprintf(name, sizeof name, "%x", i);
            const int fd = openat(dfd, name, O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            if (fd < 0) return std::string("cannot create ") + name;
            close(fd);
        }
        close(dfd);
        auto tree = scan(dir.path());
        const auto huge = tree->nodeAtPath(dir / "huge");
        if (!huge) return "missing";
        size_t children = 0;
        for (auto c = tree->firstChild(*huge); c != FileTree::none; c = tree->nextSibling(c)) {
            ++children;
        }
        return std::to_string(children) + " " + std::to_string(tree->count());
    });
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, std::to_string(count) + " " + std::to_string(count + 2));
}

}  // namespace
