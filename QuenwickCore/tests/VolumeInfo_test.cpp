#include "QuenwickCore/VolumeInfo.h"

#include <sys/statvfs.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "QuenwickCore/FullDiskAccess.h"
#include "TestSupport.h"

using quenwick::VolumeInfo;
namespace fda = quenwick::FullDiskAccess;

namespace {

TEST(VolumeInfo, DerivedFiguresNeverGoBelowZero) {
    const VolumeInfo over{100, 120, 120};
    EXPECT_EQ(over.used(), 0u);
    EXPECT_EQ(over.hidden(5), 0u);
    const VolumeInfo v{500, 200, 260};
    EXPECT_EQ(v.used(), 300u);
    EXPECT_EQ(v.purgeable(), 60u);
    EXPECT_EQ(v.hidden(250), 50u);
    EXPECT_EQ(v.hidden(400), 0u);
    EXPECT_EQ((VolumeInfo{500, 200, 150}).purgeable(), 0u);
}

TEST(VolumeInfo, FiguresOfARealVolumeMatchStatvfs) {
    quenwick::testing::TempDir dir;
    const auto info = VolumeInfo::containing(dir.path());
    ASSERT_TRUE(info);
    struct statvfs st;
    ASSERT_EQ(statvfs(dir.path().c_str(), &st), 0);
    EXPECT_EQ(info->total,
              static_cast<uint64_t>(st.f_blocks - (st.f_bfree - st.f_bavail)) * st.f_frsize);
    EXPECT_GT(info->total, 0u);
    EXPECT_LE(info->available, info->total);
    EXPECT_EQ(info->purgeable(), 0u);
    EXPECT_EQ(VolumeInfo::containing(dir / "does/not/exist"), std::nullopt);
}

// In a child, on a file system mounted at dir: "<total> <used> <available> <blocks>" as read
// here, then "<used> <available>" as df prints them.
std::string figuresAndDf(const std::string& dir) {
    const auto info = VolumeInfo::containing(dir);
    struct statvfs st;
    if (!info || statvfs(dir.c_str(), &st) != 0) return "no figures";
    std::string out = std::to_string(info->total) + " " + std::to_string(info->used()) + " " +
                      std::to_string(info->available) + " " +
                      std::to_string(uint64_t(st.f_blocks) * st.f_frsize) + " |";
    const std::string command = "df -B1 --output=used,avail '" + dir + "' | tail -n 1";
    if (FILE* df = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, df))
            out += buffer;
        pclose(df);
    }
    return out;
}

struct Figures {
    uint64_t total = 0, used = 0, available = 0, blocks = 0, dfUsed = 0, dfAvailable = 0;
};
std::optional<Figures> parse(const std::optional<std::string>& text) {
    Figures f;
    if (!text || std::sscanf(text->c_str(), "%lu %lu %lu %lu | %lu %lu", &f.total, &f.used,
                             &f.available, &f.blocks, &f.dfUsed, &f.dfAvailable) != 6) {
        return std::nullopt;
    }
    return f;
}

TEST(VolumeInfo, UsedAndAvailableAgreeWithDfOnATmpfs) {
    if (!quenwick::testing::canMountPrivateTmpfs()) GTEST_SKIP() << "no private mount namespace";
    quenwick::testing::TempDir dir;
    const auto figures = parse(quenwick::testing::runInChild([&]() -> std::string {
        if (!quenwick::testing::mountPrivateTmpfs(dir.path(), "size=16m")) return "no mount";
        if (!quenwick::testing::writeFileOfSize(dir / "data", 3 << 20)) return "no write";
        return figuresAndDf(dir.path());
    }));
    ASSERT_TRUE(figures);
    EXPECT_EQ(figures->used, figures->dfUsed);
    EXPECT_EQ(figures->available, figures->dfAvailable);
    EXPECT_EQ(figures->total, figures->blocks) << "a tmpfs keeps nothing back";
    EXPECT_GE(figures->used, uint64_t(3) << 20);
}

TEST(VolumeInfo, RootReserveOfExt4IsNeitherUsedNorPartOfTheTotal) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a loop device";
    if (access("/dev/loop-control", F_OK) != 0) GTEST_SKIP() << "no loop devices";
    quenwick::testing::TempDir dir;
    quenwick::testing::TempDir images;
    const auto text = quenwick::testing::runInChild([&]() -> std::string {
        if (!quenwick::testing::mountPrivateImage(dir.path(), images.path(), "mkfs.ext4 -q -F -m 5",
                                                  64 << 20)) {
            return "no mount";
        }
        if (!quenwick::testing::writeFileOfSize(dir / "data", 4 << 20)) return "no write";
        return figuresAndDf(dir.path());
    });
    if (text == std::optional<std::string>("no mount"))
        GTEST_SKIP() << "cannot mount an ext4 image";
    const auto figures = parse(text);
    ASSERT_TRUE(figures) << text.value_or("(child failed)");
    EXPECT_EQ(figures->used, figures->dfUsed);
    EXPECT_EQ(figures->available, figures->dfAvailable);
    EXPECT_EQ(figures->total, figures->used + figures->available);
    // Five per cent of the blocks are root's: not the user's to fill.
    EXPECT_LT(figures->total, figures->blocks - figures->blocks / 25);
    EXPECT_GE(figures->used, uint64_t(4) << 20);
}

TEST(FullDiskAccess, AnyOpenGrantsElseAnyRefusalDenies) {
    const auto openerOf = [](std::vector<int32_t> codes) {
        return [codes, i = size_t{0}](const std::string&) mutable { return codes[i++]; };
    };
    const std::vector<std::string> three{"a", "b", "c"}, two{"a", "b"};
    EXPECT_EQ(fda::status(three, openerOf({ENOENT, EACCES, ENOENT})), fda::Status::denied);
    EXPECT_EQ(fda::status(two, openerOf({EACCES, 0})), fda::Status::granted);
    EXPECT_EQ(fda::status(two, openerOf({ENOENT, ENOENT})), fda::Status::unknown);
    EXPECT_EQ(fda::status({}, openerOf({})), fda::Status::unknown);
    EXPECT_EQ(fda::status(two, openerOf({EPERM, ENOENT})), fda::Status::denied);
}

TEST(FullDiskAccess, ProbesAreUnknownOnAHomeWithoutThem) {
    quenwick::testing::TempDir home;
    const auto probes = fda::probes(home.path());
    ASSERT_EQ(probes.size(), 7u);
    EXPECT_EQ(probes[1], home.path() + "/Library/Application Support/com.apple.TCC/TCC.db");
    EXPECT_EQ(fda::status(probes, fda::tryOpen), fda::Status::unknown);
    quenwick::testing::writeFile(home / "plain", "x");
    EXPECT_EQ(fda::tryOpen(home / "plain"), 0);
    EXPECT_EQ(fda::tryOpen(home / "missing"), ENOENT);
}

}  // namespace
