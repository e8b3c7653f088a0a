#include "RingKit/RingLayout.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>

#include "RandomTrees.h"

namespace ringkit {
namespace {

using quenwick::FileTree;
using quenwick::VolumeInfo;
using testing::addDir;
using testing::addFile;
using testing::brokenPromise;
using Kind = RingSegment::Kind;
using Extra = RingLayout::Extra;

constexpr double kPi = std::numbers::pi;
constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

std::vector<RingSegment> layoutOf(const FileTree& tree, FileTree::Node focus = 0,
                                  std::vector<Extra> extras = {}, int maxDepth = 5,
                                  double minAngle = RingLayout::defaultMinAngle) {
    auto segments = RingLayout::layout(tree, focus, maxDepth, minAngle, extras);
    const std::string broken =
        brokenPromise({tree, focus, maxDepth, minAngle, extras, true}, segments);
    EXPECT_EQ(broken, "");
    return segments;
}

TEST(RingLayout, NothingToDrawGivesNoArcs) {
    FileTree empty("/r");
    addDir(empty, 0, "hollow");
    empty.propagateSizes();
    EXPECT_TRUE(layoutOf(empty).empty());
    EXPECT_TRUE(layoutOf(empty, 0, {{Kind::hidden(), 0}, {Kind::purgeable(), 0}}).empty());

    FileTree tree("/r");
    addFile(tree, 0, "a", 10);
    tree.propagateSizes();
    EXPECT_TRUE(RingLayout::layout(tree, 0, 0).empty()) << "no rings to fill";
    EXPECT_TRUE(RingLayout::layout(tree, 7).empty()) << "focus not in the tree";
    EXPECT_TRUE(RingLayout::layout(FileTree("/r", FileTree::EmptyTag{}), 0).empty());
}

TEST(RingLayout, FocusWithoutChildrenShowsOnlyExtrasFromTheTop) {
    FileTree tree("/r");
    const auto file = addFile(tree, 0, "only", 200);
    tree.propagateSizes();
    const auto segments = layoutOf(
        tree, file, {{Kind::hidden(), 100}, {Kind::purgeable(), 0}, {Kind::purgeable(), 100}});
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].kind, Kind::hidden());
    EXPECT_EQ(segments[0].start, 0.0);
    EXPECT_DOUBLE_EQ(segments[0].end, kPi / 2);
    EXPECT_EQ(segments[1].kind, Kind::purgeable());
    EXPECT_DOUBLE_EQ(segments[1].end, kPi) << "the focus's own bytes stay an empty arc";
}

TEST(RingLayout, CrowdOfTinyFilesFoldsIntoOneSmallerArcAfterTheBigChild) {
    FileTree tree("/r");
    const auto folder = addDir(tree, 0, "f");
    for (int i = 0; i < 1000; ++i)
        addFile(tree, folder, "tiny" + std::to_string(i), 1);
    const auto big = addFile(tree, folder, "big", 1'000'000);
    tree.propagateSizes();
    const auto segments = layoutOf(tree, folder);
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].kind, Kind::node(big));
    EXPECT_EQ(segments[0].start, 0.0);
    EXPECT_EQ(segments[1].kind, Kind::smaller(folder, 1000));
    EXPECT_EQ(segments[1].bytes, 1000u);
    EXPECT_EQ(segments[1].start, segments[0].end);
    EXPECT_EQ(segments[1].branch, -1);
    EXPECT_NEAR(segments[1].end, 2 * kPi, 1e-12);
}

TEST(RingLayout, ZeroByteChildrenAreNeitherDrawnNorCounted) {
    FileTree tree("/r");
    const auto a = addFile(tree, 0, "a", 5000);
    addFile(tree, 0, "empty", 0);
    const auto b = addDir(tree, 0, "b");
    const auto inB = addFile(tree, b, "inner", 5000);
    addFile(tree, b, "hollow", 0);
    const auto tinies = addDir(tree, 0, "tinies");
    addFile(tree, tinies, "zero", 0);
    addFile(tree, tinies, "one", 1);
    addFile(tree, tinies, "two", 1);
    const auto filler = addFile(tree, tinies, "filler", 3000);
    tree.propagateSizes();
    // Equal sizes keep the tree's child order, newest first: b, then a, then tinies.
    const auto segments = layoutOf(tree);
    ASSERT_EQ(segments.size(), 6u);
    EXPECT_EQ(segments[0].kind, Kind::node(b));
    EXPECT_EQ(segments[0].branch, 0);
    EXPECT_EQ(segments[1].kind, Kind::node(inB));
    EXPECT_EQ(segments[1].branch, 0) << "descendants carry their ring-1 ancestor's position";
    EXPECT_EQ(segments[2].kind, Kind::node(a));
    EXPECT_EQ(segments[2].branch, 1);
    EXPECT_EQ(segments[3].kind, Kind::node(tinies));
    EXPECT_EQ(segments[3].branch, 2);
    EXPECT_EQ(segments[4].kind, Kind::node(filler));
    EXPECT_EQ(segments[5].kind, Kind::smaller(tinies, 2)) << "the zero-byte file is not counted";
    EXPECT_EQ(segments[5].bytes, 2u);
    EXPECT_EQ(segments[5].depth, 2);
}

TEST(RingLayout, DeepestRingGetsArcsButNoChildren) {
    FileTree tree("/r");
    FileTree::Node at = 0;
    for (int d = 1; d <= 6; ++d)
        at = addDir(tree, at, "d" + std::to_string(d));
    addFile(tree, at, "leaf", 10);
    tree.propagateSizes();
    const auto segments = layoutOf(tree);
    ASSERT_EQ(segments.size(), 5u);
    EXPECT_EQ(segments.back().depth, 5);
    EXPECT_EQ(segments.back().kind, Kind::node(5));
    EXPECT_EQ(layoutOf(tree, 0, {}, 2).size(), 2u);
}

TEST(RingLayout, AStackOfFoldersFarDeeperThanAnyScreenDoesNotExhaustTheStack) {
    FileTree tree("/r");
    FileTree::Node at = 0;
    for (int d = 0; d < 20000; ++d)
        at = addDir(tree, at, "d");
    addFile(tree, at, "leaf", 10);
    tree.propagateSizes();
    const auto segments = RingLayout::layout(tree, 0, INT_MAX);
    ASSERT_EQ(segments.size(), 20001u);
    EXPECT_EQ(segments.back().depth, 20001);
    EXPECT_EQ(segments.back().span(), 2 * kPi);
}

TEST(RingLayout, ChildrenFillTheirFolderFromItsStartAndFoldersStartOnTheirParent) {
    FileTree tree("/r");
    const auto a = addDir(tree, 0, "a");
    addFile(tree, a, "x", 30);
    addFile(tree, a, "y", 10);
    const auto b = addDir(tree, 0, "b");
    addFile(tree, b, "z", 60);
    addFile(tree, 0, "loose", 20);
    tree.propagateSizes();
    const auto segments = layoutOf(tree);
    ASSERT_EQ(segments.size(), 6u);
    // b (60) first, then its child; then a (40) and its children, then the loose file.
    EXPECT_EQ(segments[0].kind, Kind::node(b));
    EXPECT_EQ(segments[1].start, segments[0].start);
    EXPECT_EQ(segments[1].end, segments[0].end);
    EXPECT_EQ(segments[2].kind, Kind::node(a));
    EXPECT_EQ(segments[3].start, segments[2].start);
    EXPECT_EQ(segments[4].end, segments[2].end);
    EXPECT_NEAR(segments[5].end, 2 * kPi, 1e-12);
}

TEST(RingLayout, VolumeExtrasSplitUnseenSpaceIntoHiddenAndPurgeable) {
    VolumeInfo volume{1000, 300, 350};  // 700 used, 50 purgeable
    auto extras = RingLayout::volumeExtras(volume, 600);
    ASSERT_EQ(extras.size(), 2u);
    EXPECT_EQ(extras[0].kind, Kind::hidden());
    EXPECT_EQ(extras[0].bytes, 50u);
    EXPECT_EQ(extras[1].kind, Kind::purgeable());
    EXPECT_EQ(extras[1].bytes, 50u);
    extras = RingLayout::volumeExtras(volume, 680);
    EXPECT_EQ(extras[0].bytes, 0u) << "less unseen than purgeable: all of it purgeable";
    EXPECT_EQ(extras[1].bytes, 20u);

    FileTree tree("/");
    addFile(tree, 0, "seen", 600);
    tree.propagateSizes();
    const auto segments = layoutOf(tree, 0, RingLayout::volumeExtras(volume, 600));
    ASSERT_EQ(segments.size(), 3u);
    double drawnBytes = 0;
    for (const auto& s : segments)
        drawnBytes += static_cast<double>(s.bytes);
    EXPECT_EQ(drawnBytes, 700) << "the full circle stands for the volume's used space";
    EXPECT_NEAR(segments.back().end, 2 * kPi, 1e-12);

    // The scan saw more than the volume reports as used: no extras at all.
    const auto none = layoutOf(tree, 0, RingLayout::volumeExtras({1000, 500, 900}, 600));
    ASSERT_EQ(none.size(), 1u);
    EXPECT_TRUE(none[0].kind.isNode());
}

TEST(RingLayout, SizesNearTheTopOfUnsignedStillMakeOneFullCircle) {
    FileTree tree("/r");
    addFile(tree, 0, "a", kMax / 2);
    addFile(tree, 0, "b", kMax / 2);
    tree.propagateSizes();
    // The focus and the extras together pass 2^64 - 1: the circle still holds all of them.
    const auto segments = layoutOf(tree, 0, {{Kind::hidden(), kMax}, {Kind::purgeable(), kMax}});
    ASSERT_EQ(segments.size(), 4u);
    EXPECT_NEAR(segments[0].span(), kPi / 3, 1e-12);
    EXPECT_NEAR(segments[1].span(), kPi / 3, 1e-12);
    EXPECT_NEAR(segments[2].span(), 2 * kPi / 3, 1e-12);
    EXPECT_NEAR(segments[3].span(), 2 * kPi / 3, 1e-12);
    EXPECT_LE(segments.back().end, 2 * kPi);
}

TEST(RingLayout, ChildrenThatOutgrowTheirFolderAreCutOffAtItsEnd) {
    // Rolled-up sizes that wrapped past 2^64: the folder claims less than its children hold.
    FileTree tree("/r");
    const auto folder = addDir(tree, 0, "wrapped");
    for (int i = 0; i < 3; ++i)
        addFile(tree, folder, "half" + std::to_string(i), uint64_t{1} << 63);
    for (int i = 0; i < 500; ++i)
        addFile(tree, folder, "crumb" + std::to_string(i), uint64_t{1} << 52);
    addFile(tree, 0, "other", uint64_t{1} << 62);
    tree.propagateSizes();
    tree.mutableStorage().sizes[folder] = (uint64_t{1} << 62) + 5;
    tree.mutableStorage().sizes[0] = uint64_t{1} << 63;
    const auto segments = RingLayout::layout(tree, 0);
    EXPECT_EQ(brokenPromise({tree, 0, 5, RingLayout::defaultMinAngle, {}, false}, segments), "");
    ASSERT_GE(segments.size(), 2u);
    EXPECT_EQ(segments[0].kind, Kind::node(folder));
    for (size_t i = 1; i < segments.size() && segments[i].depth == 2; ++i) {
        EXPECT_LE(segments[i].end, segments[0].end);
        if (segments[i].kind.isSmaller()) {
            EXPECT_EQ(segments[i].bytes, 500 * (uint64_t{1} << 52));
        }
    }
}

TEST(RingLayout, MinimumAngleThatIsNotANumberFoldsNothing) {
    FileTree tree("/r");
    addFile(tree, 0, "big", 1'000'000);
    addFile(tree, 0, "tiny", 1);
    tree.propagateSizes();
    EXPECT_EQ(layoutOf(tree, 0, {}, 5, std::numeric_limits<double>::quiet_NaN()).size(), 2u);
    EXPECT_EQ(layoutOf(tree, 0, {}, 5, -1).size(), 2u);
    EXPECT_EQ(layoutOf(tree).size(), 2u) << "one smaller arc for the tiny file";
    EXPECT_TRUE(layoutOf(tree)[1].kind.isSmaller());
}

TEST(RingLayout, EveryPromiseHoldsOverThousandsOfRandomTrees) {
    std::mt19937_64 rng(20240611);
    const double minAngles[] = {RingLayout::defaultMinAngle, RingLayout::defaultMinAngle, 0.0, 0.05,
                                std::numeric_limits<double>::quiet_NaN()};
    for (uint64_t seed = 0; seed < 3000; ++seed) {
        FileTree tree = testing::randomTree(seed, seed % 10 == 0 ? 1500 : 120);
        const bool consistent = seed % 4 != 0;
        if (!consistent) testing::scrambleFolderSizes(tree, seed);
        std::vector<FileTree::Node> folders;
        for (FileTree::Node n = 0; n < tree.count(); ++n)
            if (tree.isDirectory(n)) folders.push_back(n);
        const FileTree::Node focus = seed % 3 == 0 ? 0 : folders[rng() % folders.size()];
        std::vector<Extra> extras;
        if (seed % 5 == 0) {
            extras = {{Kind::hidden(), rng() % 3 == 0 ? 0 : rng() >> (rng() % 64)},
                      {Kind::purgeable(), rng() % 3 == 0 ? 0 : rng() >> (rng() % 64)}};
        }
        const int maxDepth = static_cast<int>(rng() % 8);
        const double minAngle = minAngles[rng() % 5];
        const auto segments = RingLayout::layout(tree, focus, maxDepth, minAngle, extras);
        const std::string broken =
            brokenPromise({tree, focus, maxDepth, minAngle, extras, consistent}, segments);
        ASSERT_EQ(broken, "") << "seed " << seed << ", focus " << focus << ", maxDepth " << maxDepth
                              << ", minAngle " << minAngle;
    }
}

TEST(RingLayout, AnglesRunClockwiseFromTheTop) {
    EXPECT_EQ(RingLayout::angle(0, 1), 0.0);
    EXPECT_FALSE(std::signbit(RingLayout::angle(-0.0, 1)));
    EXPECT_DOUBLE_EQ(RingLayout::angle(1, 0), kPi / 2);
    EXPECT_DOUBLE_EQ(RingLayout::angle(0, -1), kPi);
    EXPECT_DOUBLE_EQ(RingLayout::angle(-1, 0), 3 * kPi / 2);
    const double leftOfTop = RingLayout::angle(-1e-9, 1);
    EXPECT_LT(leftOfTop, 2 * kPi);
    EXPECT_GT(leftOfTop, 2 * kPi - 1e-8);
    // So close to the top that adding 2π rounds up to it: still inside [0, 2π).
    EXPECT_LT(RingLayout::angle(-1e-300, 1), 2 * kPi);
    EXPECT_EQ(RingLayout::angle(std::numeric_limits<double>::quiet_NaN(), 1), 0.0);
}

}  // namespace
}  // namespace ringkit
