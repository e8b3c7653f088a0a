#include "QuenwickCore/VolumeInfo.h"

#include <sys/statvfs.h>

#include <gtest/gtest.h>

#include <cerrno>

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
    EXPECT_EQ(info->total, static_cast<uint64_t>(st.f_blocks) * st.f_frsize);
    EXPECT_GT(info->total, 0u);
    EXPECT_LE(info->available, info->total);
    EXPECT_EQ(info->purgeable(), 0u);
    EXPECT_EQ(VolumeInfo::containing(dir / "does/not/exist"), std::nullopt);
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
