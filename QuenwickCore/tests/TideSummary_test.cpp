#include "QuenwickCore/TideSummary.h"

#include <gtest/gtest.h>

using quenwick::FileTree;
using quenwick::NodeFlags;
using quenwick::TideSummary;
using quenwick::VolumeInfo;

namespace {

constexpr uint64_t MB = 1'000'000;
constexpr uint64_t GB = 1'000'000'000;
constexpr NodeFlags kDir = NodeFlags::directory;

// /home/ann with Movies (2 GB in a 6-deep chain), Small (5 MB), a 3 GB file, and /usr/lib (1 GB).
struct Disk {
    FileTree tree{"/"};
    FileTree::Node ann = 0;

    Disk() {
        const auto home = tree.append(0, "home", 0, 0, 1, kDir);
        ann = tree.append(home, "ann", 0, 0, 2, kDir);
        auto folder = tree.append(ann, "Movies", 0, 0, 3, kDir);
        for (int level = 1; level <= 6; ++level)
            folder = tree.append(folder, "l" + std::to_string(level), 0, 0, 10 + level, kDir);
        tree.append(folder, "film.mkv", 2 * GB, 0, 20, {});
        const auto small = tree.append(ann, "Small", 0, 0, 4, kDir);
        const auto inner = tree.append(small, "inner", 0, 0, 5, kDir);
        tree.append(inner, "notes.txt", 5 * MB, 0, 6, {});
        tree.append(ann, "disk.img", 3 * GB, 0, 7, {});
        const auto usr = tree.append(0, "usr", 0, 0, 8, kDir);
        const auto lib = tree.append(usr, "lib", 0, 0, 9, kDir);
        tree.append(lib, "libbig.so", 1 * GB, 0, 30, {});
        tree.propagateSizes();
    }
};

TEST(TideSummaryMake, RecordsBigFoldersDownToTheDepthLimitAndNoFiles) {
    Disk disk;
    const auto s = TideSummary::make(disk.tree, {"/home/ann", "/usr"}, std::nullopt, 42.5,
                                     TideSummary::recordMinBytes, TideSummary::recordMaxDepth);
    const std::map<std::string, uint64_t> expected{
        {"/home/ann", 5 * GB + 5 * MB},
        {"/home/ann/Movies", 2 * GB},
        {"/home/ann/Movies/l1", 2 * GB},
        {"/home/ann/Movies/l1/l2", 2 * GB},
        {"/home/ann/Movies/l1/l2/l3", 2 * GB},
        {"/home/ann/Movies/l1/l2/l3/l4", 2 * GB},
        {"/home/ann/Movies/l1/l2/l3/l4/l5", 2 * GB},  // depth 6: recorded, not entered
        {"/usr", 1 * GB},
        {"/usr/lib", 1 * GB},
    };
    EXPECT_EQ(s.folders, expected);
    EXPECT_EQ(s.date, 42.5);
    EXPECT_EQ(s.volumeTotal, 0u);
    EXPECT_EQ(s.volumeUsed, 0u);
    EXPECT_EQ(s.purgeable, 0u);
}

TEST(TideSummaryMake, RootsOutsideTheTreeOrUnderTheMinimumRecordNothing) {
    Disk disk;
    FileTree home("/home/ann");
    const auto movies = home.append(0, "Movies", 0, 0, 1, kDir);
    home.append(movies, "a.mov", 20 * MB, 0, 2, {});
    home.propagateSizes();
    EXPECT_TRUE(TideSummary::make(home, {"/Applications", "/home/annie", "/home"}, std::nullopt, 0,
                                  10 * MB, 6)
                    .folders.empty());
    EXPECT_TRUE(TideSummary::make(disk.tree, {"/home/ann/Small"}, std::nullopt, 0, 10 * MB, 6)
                    .folders.empty());
    EXPECT_TRUE(TideSummary::make(disk.tree, {"/home/ann/disk.img"}, std::nullopt, 0, 1, 6)
                    .folders.empty());
    // The tree's own root, with or without a trailing slash, is the root node.
    const auto own = TideSummary::make(home, {"/home/ann/"}, std::nullopt, 0, 10 * MB, 6);
    EXPECT_EQ(own.folders, (std::map<std::string, uint64_t>{{"/home/ann", 20 * MB},
                                                            {"/home/ann/Movies", 20 * MB}}));
}

TEST(TideSummaryMake, ScanOfTheWholeDiskGivesSingleSlashedPaths) {
    Disk disk;
    const auto s = TideSummary::make(disk.tree, {"/"}, std::nullopt, 0, 1 * GB, 2);
    EXPECT_EQ(s.folders, (std::map<std::string, uint64_t>{{"/", 6 * GB + 5 * MB},
                                                          {"/home", 5 * GB + 5 * MB},
                                                          {"/home/ann", 5 * GB + 5 * MB},
                                                          {"/usr", 1 * GB},
                                                          {"/usr/lib", 1 * GB}}));
}

TEST(TideSummaryMake, OverlappingRootsKeepOneEntryPerPath) {
    Disk disk;
    const auto s =
        TideSummary::make(disk.tree, {"/home/ann", "/home/ann/Movies"}, std::nullopt, 0, GB, 1);
    EXPECT_EQ(s.folders, (std::map<std::string, uint64_t>{{"/home/ann", 5 * GB + 5 * MB},
                                                          {"/home/ann/Movies", 2 * GB},
                                                          {"/home/ann/Movies/l1", 2 * GB}}));
}

TEST(TideSummaryMake, VolumeFiguresGiveUsedAndPurgeable) {
    Disk disk;
    const VolumeInfo volume{500 * GB, 120 * GB, 150 * GB};
    const auto s = TideSummary::make(disk.tree, {}, volume, 0, 1, 1);
    EXPECT_EQ(s.volumeTotal, 500 * GB);
    EXPECT_EQ(s.volumeUsed, 380 * GB);
    EXPECT_EQ(s.purgeable, 30 * GB);
    // Figures that contradict each other clamp rather than wrap.
    const auto odd = TideSummary::make(disk.tree, {}, VolumeInfo{10, 20, 5}, 0, 1, 1);
    EXPECT_EQ(odd.volumeUsed, 0u);
    EXPECT_EQ(odd.purgeable, 0u);
}

TEST(TideSummaryMake, NonUtf8NamesAreKeptInReplacementFormAndCollisionsAddUp) {
    FileTree tree("/home/ann");
    for (const char* name : {"caf\xe9", "caf\xff"}) {
        const auto d = tree.append(0, name, 0, 0, 1, kDir);
        tree.append(d, "x", 30 * MB, 0, 2, {});
    }
    tree.propagateSizes();
    const auto s = TideSummary::make(tree, {"/home/ann"}, std::nullopt, 0, 10 * MB, 6);
    EXPECT_EQ(s.folders, (std::map<std::string, uint64_t>{{"/home/ann", 60 * MB},
                                                          {"/home/ann/caf\xef\xbf\xbd", 60 * MB}}));
    const auto decoded = TideSummary::fromJson(s.toJson());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, s);
    // A summary built by hand with raw bytes still encodes, in the same form.
    TideSummary raw;
    raw.folders["/x\xc3"] = 1;
    EXPECT_EQ(raw.toJson(),
              R"({"date":0.0,"volumeTotal":0,"volumeUsed":0,"purgeable":0,"folders":{"/x)"
              "\xef\xbf\xbd"
              R"(":1}})");
}

}  // namespace
