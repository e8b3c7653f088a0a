#include "Shoreline/DuplicatesRule.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include "FakeHome.h"
#include "Shoreline/Shoreline.h"

namespace shoreline {
namespace {

using testing::FakeHome;
using testing::kMiB;
using testing::relativePaths;
using Paths = std::vector<std::string>;

constexpr uint64_t kBlock = 4096;

// A context in which files of 1 MiB and more are compared.
ShorelineContext smallFiles(const FakeHome& home) {
    auto ctx = home.context();
    ctx.duplicateMinBytes = kMiB;
    return ctx;
}

Paths proposed(const ShorelineContext& ctx, std::vector<std::string>* reasons = nullptr) {
    const auto candidates = DuplicatesRule().candidates(ctx);
    if (reasons != nullptr) {
        reasons->clear();
        for (const auto& c : candidates) {
            EXPECT_EQ(c.safety, Safety::review);
            reasons->push_back(c.reason);
        }
    }
    return relativePaths(ctx, candidates);
}

void flipByte(const std::string& path, off_t at) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    char c = 0;
    ASSERT_EQ(::pread(fd, &c, 1, at), 1);
    c = static_cast<char>(c ^ 0x5a);
    ASSERT_EQ(::pwrite(fd, &c, 1, at), 1);
    ::close(fd);
}

struct timespec accessTime(const std::string& path) {
    struct stat st;
    EXPECT_EQ(::lstat(path.c_str(), &st), 0);
    return st.st_atim;
}

TEST(DuplicatesRule, TheDownloadsCopyGoesAndNamesTheKeptDocumentsCopy) {
    FakeHome home;
    home.file("Documents/talk.mov", 2 * kMiB, 1);
    home.file("Downloads/talk.mov", 2 * kMiB, 1);
    home.file("Desktop/other.mov", 2 * kMiB, 2);  // same size, other contents
    home.age("Documents/talk.mov", 300);
    auto ctx = smallFiles(home);
    std::vector<std::string> reasons;
    EXPECT_EQ(proposed(ctx, &reasons), Paths{"Downloads/talk.mov"});
    EXPECT_EQ(reasons,
              std::vector<std::string>{"Identical to ~/Documents/talk.mov, which is kept."});
    const auto categories = Shoreline::analyze(ctx);
    const auto* dups = testing::categoryOf(categories, "duplicates");
    ASSERT_NE(dups, nullptr);
    EXPECT_EQ(dups->findings[0].bytes, 2 * kMiB);
    EXPECT_EQ(dups->safeTotal(), 0u);
}

TEST(DuplicatesRule, FilesThatDifferOnlyInTheMiddleAreNotDuplicates) {
    FakeHome home;
    home.file("Documents/a.bin", 3 * kMiB, 7);
    home.file("Downloads/b.bin", 3 * kMiB, 7);
    flipByte(home / "Downloads/b.bin", static_cast<off_t>(3 * kMiB / 2));
    home.file("Documents/c.bin", 3 * kMiB, 8);
    home.file("Downloads/d.bin", 3 * kMiB, 8);
    flipByte(home / "Downloads/d.bin", 10);  // in the first 64 KiB
    home.file("Documents/e.bin", 3 * kMiB, 9);
    home.file("Downloads/f.bin", 3 * kMiB, 9);
    flipByte(home / "Downloads/f.bin", static_cast<off_t>(3 * kMiB - 10));  // in the last 64 KiB
    auto ctx = smallFiles(home);
    EXPECT_TRUE(proposed(ctx).empty());
}

TEST(DuplicatesRule, WithinATierTheNewestCopyStaysAndThreeCopiesNameOneKeeper) {
    FakeHome home;
    home.file("Projects/one/x.iso", 2 * kMiB, 3);
    home.file("Projects/two/x.iso", 2 * kMiB, 3);
    home.file("Projects/three/x.iso", 2 * kMiB, 3);
    home.ageModification("Projects/one/x.iso", 30);
    home.ageModification("Projects/two/x.iso", 10);
    home.ageModification("Projects/three/x.iso", 20);
    auto ctx = smallFiles(home);
    std::vector<std::string> reasons;
    auto paths = proposed(ctx, &reasons);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (Paths{"Projects/one/x.iso", "Projects/three/x.iso"}));
    EXPECT_EQ(reasons,
              std::vector<std::string>(2, "Identical to ~/Projects/two/x.iso, which is kept."));
}

TEST(DuplicatesRule, ManagedLibraryCopiesStayAndRankFirst) {
    FakeHome home;
    home.file("Music/Music/Media/song.flac", 2 * kMiB, 4);
    home.file("Music/iTunes/iTunes Media/song.flac", 2 * kMiB, 4);
    home.file("Downloads/song.flac", 2 * kMiB, 4);
    home.file("Documents/song.flac", 2 * kMiB, 4);
    home.ageModification("Music/Music/Media/song.flac", 900);
    home.ageModification("Music/iTunes/iTunes Media/song.flac", 10);
    auto ctx = smallFiles(home);
    std::vector<std::string> reasons;
    auto paths = proposed(ctx, &reasons);
    std::sort(paths.begin(), paths.end());
    // The newer library copy is kept; the other library copy is never proposed.
    EXPECT_EQ(paths, (Paths{"Documents/song.flac", "Downloads/song.flac"}));
    EXPECT_EQ(reasons[0], "Identical to ~/Music/iTunes/iTunes Media/song.flac, which is kept.");
}

TEST(DuplicatesRule, CopiesInCreativeProjectsAreNeverProposed) {
    FakeHome home;
    home.file("Documents/clip.mov", 2 * kMiB, 5);
    home.file("Videos/Edit/clip.mov", 2 * kMiB, 5);
    home.file("Videos/Edit/cut.prproj", kBlock);
    home.file("Work/Show/Media/clip.mov", 2 * kMiB, 5);
    home.file("Work/Show/Project Files/show.AEP", kBlock);
    home.file("Downloads/cache.cfa", 2 * kMiB, 5);
    home.file("Downloads/clip.mov", 2 * kMiB, 5);
    home.ageModification("Videos/Edit/clip.mov", 50);
    home.ageModification("Work/Show/Media/clip.mov", 50);
    auto ctx = smallFiles(home);
    EXPECT_EQ(proposed(ctx), Paths{"Downloads/clip.mov"});
}

TEST(DuplicatesRule, FilesUnderTheLimitAreNeverCompared) {
    FakeHome home;
    home.file("Documents/a.bin", kMiB - kBlock, 6);
    home.file("Downloads/a.bin", kMiB - kBlock, 6);
    auto ctx = smallFiles(home);
    EXPECT_TRUE(proposed(ctx).empty());
    ctx.duplicateMinBytes = kMiB - kBlock;
    EXPECT_EQ(proposed(ctx), Paths{"Downloads/a.bin"});
}

TEST(DuplicatesRule, HardLinksToOneInodeAreOneFileEvenWhenLinkedAfterTheScan) {
    FakeHome home;
    home.file("Documents/a.bin", 2 * kMiB, 10);
    ASSERT_EQ(link((home / "Documents/a.bin").c_str(), (home / "Downloads-a.bin").c_str()), 0);
    home.file("Desktop/b.bin", 2 * kMiB, 11);
    home.file("Downloads/b.bin", 2 * kMiB, 11);
    home.ageModification("Desktop/b.bin", 5);
    home.ageModification("Downloads/b.bin", 5);
    auto ctx = smallFiles(home);
    EXPECT_EQ(proposed(ctx), Paths{"Downloads/b.bin"});
    // Downloads/b.bin becomes a second name of Desktop/b.bin: same inode, same dates.
    ASSERT_EQ(unlink((home / "Downloads/b.bin").c_str()), 0);
    ASSERT_EQ(link((home / "Desktop/b.bin").c_str(), (home / "Downloads/b.bin").c_str()), 0);
    EXPECT_TRUE(proposed(ctx).empty());
}

TEST(DuplicatesRule, AFileChangedBetweenScanAndHashingTakesNoPart) {
    FakeHome home;
    home.file("Documents/a.bin", 2 * kMiB, 12);
    home.file("Downloads/same-size.bin", 2 * kMiB, 12);
    home.file("Downloads/grown.bin", 2 * kMiB, 12);
    home.file("Downloads/linked.bin", 2 * kMiB, 12);
    home.file("Desktop/b.bin", 2 * kMiB, 13);
    home.file("Downloads/b.bin", 2 * kMiB, 13);
    auto ctx = smallFiles(home);
    auto before = proposed(ctx);
    std::sort(before.begin(), before.end());
    EXPECT_EQ(before, (Paths{"Downloads/b.bin", "Downloads/grown.bin", "Downloads/linked.bin",
                             "Downloads/same-size.bin"}));

    flipByte(home / "Downloads/same-size.bin", 100);
    home.ageModification("Downloads/same-size.bin", -1);
    {
        const int fd = ::open((home / "Downloads/grown.bin").c_str(), O_WRONLY | O_APPEND);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "x", 1), 1);
        ::close(fd);
    }
    ASSERT_EQ(unlink((home / "Downloads/linked.bin").c_str()), 0);
    ASSERT_EQ(symlink("../Documents/a.bin", (home / "Downloads/linked.bin").c_str()), 0);
    // Other contents with the dates put back as they were: only the contents can tell.
    struct stat st;
    ASSERT_EQ(::stat((home / "Downloads/b.bin").c_str(), &st), 0);
    home.file("Downloads/b.bin", 2 * kMiB, 99);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, (home / "Downloads/b.bin").c_str(), times, 0), 0);
    EXPECT_TRUE(proposed(ctx).empty());
}

TEST(DuplicatesRule, AnUnreadableFileTakesNoPartAndTheOthersAreStillCompared) {
    FakeHome home;
    home.file("Documents/a.bin", 2 * kMiB, 14);
    home.file("Desktop/a.bin", 2 * kMiB, 14);
    home.file("Downloads/a.bin", 2 * kMiB, 14);
    home.ageModification("Desktop/a.bin", 40);
    home.ageModification("Documents/a.bin", 20);
    ASSERT_EQ(chmod((home / "Documents/a.bin").c_str(), 0600), 0);
    // Read as another user: the files belong to this one (when it is root, O_NOATIME is refused
    // for them as well, so the plain open is taken).
    const auto found = quenwick::testing::runInChild([&]() -> std::string {
        if (!quenwick::testing::dropPrivileges()) return "still privileged";
        std::vector<std::string> reasons;
        auto ctx = smallFiles(home);
        const auto paths = proposed(ctx, &reasons);
        std::string out;
        for (size_t i = 0; i < paths.size(); ++i)
            out += paths[i] + ": " + reasons[i] + "\n";
        return out;
    });
    if (getuid() != 0) GTEST_SKIP() << "needs root to read as another user";
    EXPECT_EQ(found.value_or("<child failed>"),
              "Downloads/a.bin: Identical to ~/Desktop/a.bin, which is kept.\n");
}

TEST(DuplicatesRule, ReadingForTheComparisonLeavesAccessTimesAlone) {
    FakeHome home;
    home.file("Documents/a.bin", 2 * kMiB, 15);
    home.file("Downloads/a.bin", 2 * kMiB, 15);
    // An access time no newer than the modification time is the case relatime always updates.
    home.age("Documents/a.bin", 400);
    home.age("Downloads/a.bin", 400);
    const auto before = accessTime(home / "Downloads/a.bin");
    auto ctx = smallFiles(home);
    EXPECT_EQ(proposed(ctx), Paths{"Downloads/a.bin"});
    for (const char* file : {"Documents/a.bin", "Downloads/a.bin"}) {
        const auto after = accessTime(home / file);
        EXPECT_EQ(after.tv_sec, before.tv_sec) << file;
        EXPECT_EQ(after.tv_nsec, before.tv_nsec) << file;
    }
}

// Writes a.bin, a plain copy and a clone of it sharing a.bin's extents, then says which files
// the rule proposes, or why it could not.
std::string proposedBesideAReflink(FakeHome& home) {
    home.file("Documents/a.bin", 2 * kMiB, 16);
    home.file("Downloads/plain.bin", 2 * kMiB, 16);
    const int from = ::open((home / "Documents/a.bin").c_str(), O_RDONLY);
    const int to = ::open((home / "Downloads/clone.bin").c_str(), O_WRONLY | O_CREAT, 0644);
    const bool cloned = from >= 0 && to >= 0 && ioctl(to, FICLONE, from) == 0;
    if (from >= 0) ::close(from);
    if (to >= 0) ::close(to);
    std::string out = cloned ? "" : "no reflink; ";
    for (const auto& p : proposed(smallFiles(home)))
        out += p + ";";
    return out;
}

TEST(DuplicatesRule, ReflinkedCopiesFreeNothingAndAreNotProposed) {
    FakeHome home;
    const auto here = proposedBesideAReflink(home);
    if (here.find("no reflink") == std::string::npos) {
        EXPECT_EQ(here, "Downloads/plain.bin;");
        return;
    }
    // This file system cannot share extents: the plain copy is still found, and the check has
    // answered "not shared" for it. Then again on a btrfs of our own, as root.
    EXPECT_EQ(here, "no reflink; Downloads/plain.bin;");
    FakeHome btrfsHome;
    quenwick::testing::TempDir images;
    const auto onBtrfs = quenwick::testing::runInChild([&]() -> std::string {
        if (!quenwick::testing::mountPrivateBtrfs(btrfsHome.path(), images.path())) return "skip";
        return proposedBesideAReflink(btrfsHome);
    });
    ASSERT_TRUE(onBtrfs.has_value());
    if (*onBtrfs == "skip") GTEST_SKIP() << "no file system here can make reflinks";
    EXPECT_EQ(*onBtrfs, "Downloads/plain.bin;");
}

TEST(DuplicatesRule, HashingReportsItsProgressAndFinishesOnce) {
    FakeHome home;
    home.file("Documents/a.bin", 2 * kMiB, 17);
    home.file("Downloads/a.bin", 2 * kMiB, 17);
    home.file("Desktop/a.bin", 2 * kMiB, 17);
    home.file("Desktop/z.bin", 2 * kMiB, 18);  // same size, falls out at the sample stage
    home.file("Desktop/lone.bin", 3 * kMiB, 19);
    auto ctx = smallFiles(home);
    std::mutex mutex;
    std::vector<HashProgress> reports;
    ctx.onHashProgress = [&](const HashProgress& p) {
        std::lock_guard lock(mutex);
        reports.push_back(p);
    };
    EXPECT_EQ(proposed(ctx).size(), 2u);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(std::count_if(reports.begin(), reports.end(),
                            [](const HashProgress& p) { return p.finished; }),
              1);
    const auto& last = reports.back();
    EXPECT_TRUE(last.finished);
    EXPECT_EQ(last.stage, HashProgress::Stage::contents);
    EXPECT_EQ(last.filesTotal, 3u);
    EXPECT_EQ(last.filesDone, 3u);
    EXPECT_EQ(last.bytesTotal, 6 * kMiB);
    EXPECT_EQ(last.bytesDone, 6 * kMiB);
    const bool sawSamples = std::any_of(reports.begin(), reports.end(), [](const HashProgress& p) {
        return p.stage == HashProgress::Stage::samples && p.filesTotal == 4;
    });
    EXPECT_TRUE(sawSamples);
}

}  // namespace
}  // namespace shoreline
