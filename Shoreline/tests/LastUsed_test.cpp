#include "Shoreline/LastUsed.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include "FakeHome.h"

namespace shoreline {
namespace {

using quenwick::testing::runInChild;
using quenwick::testing::TempDir;
using Clock = ShorelineContext::Clock;

void setAccess(const std::string& path, int64_t seconds) {
    const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {0, UTIME_OMIT}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(LastUsed, AFilesAccessTimeIsItsLastUseAndFoldersHaveNone) {
    TempDir dir;
    ASSERT_TRUE(quenwick::testing::writeFile(dir / "a.txt", "x"));
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / "folder"));
    setAccess(dir / "a.txt", 1'600'000'000);
    setAccess(dir / "folder", 1'600'000'000);
    const auto lastUsed = LastUsed::spotlight();
    EXPECT_EQ(lastUsed(dir / "a.txt"), Clock::time_point(std::chrono::seconds(1'600'000'000)));
    EXPECT_EQ(lastUsed(dir / "folder"), std::nullopt);
    EXPECT_EQ(lastUsed(dir / "missing"), std::nullopt);
    ASSERT_EQ(symlink("a.txt", (dir / "link").c_str()), 0);
    EXPECT_NE(lastUsed(dir / "link"), lastUsed(dir / "a.txt"));
}

TEST(LastUsed, AFileSystemMountedNoatimeKeepsNoLastUse) {
    if (!quenwick::testing::canMountPrivateTmpfs()) GTEST_SKIP() << "no private mounts here";
    TempDir dir;
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / "noatime"));
    ASSERT_TRUE(quenwick::testing::makeDirs(dir / "relatime"));
    ASSERT_TRUE(quenwick::testing::writeFile(dir / "relatime/f", "x"));
    const auto answer = runInChild([&]() -> std::string {
        const std::string mounted = dir / "noatime";
        if (!quenwick::testing::mountPrivateTmpfs(mounted, "size=1m")) return "mount failed";
        // noatime is a per-mount flag, not a tmpfs option: set it on the mount just made.
        if (mount(nullptr, mounted.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_NOATIME, nullptr) !=
            0)
            return "remount failed";
        const int fd = ::open((mounted + "/f").c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd < 0) return "create failed";
        ::close(fd);
        const auto lastUsed = LastUsed::spotlight();
        std::string out;
        for (const std::string& file : {mounted + "/f", dir / "relatime/f"})
            out += lastUsed(file) ? "known " : "unknown ";
        return out;
    });
    EXPECT_EQ(answer.value_or("<child failed>"), "unknown known ");
}

}  // namespace
}  // namespace shoreline
