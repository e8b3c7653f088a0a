#include "RingKit/RingMorph.h"

#include <gtest/gtest.h>

#include <limits>

#include "RandomTrees.h"
#include "RingKit/RingLayout.h"

namespace ringkit {
namespace {

using quenwick::FileTree;
using testing::addDir;
using testing::addFile;
using Kind = RingSegment::Kind;

RingMorph::ParentLookup parentsOf(const FileTree& tree) {
    return [&tree](uint32_t n) { return n < tree.count() ? tree.parent(n) : Kind::noNode; };
}

const RingMorph::Pair* pairTo(const RingMorph::Result& r, const Kind& kind) {
    for (const auto& p : r.pairs)
        if (p.to.kind == kind) return &p;
    return nullptr;
}

bool fades(const RingMorph::Result& r, const Kind& kind) {
    for (const auto& s : r.fading)
        if (s.kind == kind) return true;
    return false;
}

TEST(RingMorph, FocusingIntoAFolderMovesItsChildrenInwardAndFadesItsSiblings) {
    FileTree tree("/r");
    const auto sibling = addFile(tree, 0, "sibling", 400);
    const auto folder = addDir(tree, 0, "folder");
    const auto child = addFile(tree, folder, "child", 300);
    FileTree::Node at = addDir(tree, folder, "chain");
    const FileTree::Node chain = at;
    for (int d = 0; d < 3; ++d)
        at = addDir(tree, at, "c" + std::to_string(d));
    const auto deepest = addFile(tree, at, "deepest", 300);
    tree.propagateSizes();

    const auto before = RingLayout::layout(tree, 0);
    const auto after = RingLayout::layout(tree, folder);
    const auto morph = RingMorph::pair(before, after, parentsOf(tree));
    ASSERT_EQ(morph.pairs.size(), after.size());
    for (size_t i = 0; i < after.size(); ++i)
        EXPECT_EQ(morph.pairs[i].to, after[i]) << "pairs follow the new order";

    const auto* moved = pairTo(morph, Kind::node(child));
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(moved->from.depth, 2);
    EXPECT_EQ(moved->to.depth, 1);

    // The deepest file was beyond ring 5 before: it grows out of its folder's old start.
    const auto* grown = pairTo(morph, Kind::node(deepest));
    ASSERT_NE(grown, nullptr);
    const auto oldParent = std::find_if(before.begin(), before.end(), [&](const RingSegment& s) {
        return s.kind == Kind::node(tree.parent(deepest));
    });
    ASSERT_NE(oldParent, before.end());
    EXPECT_EQ(grown->from.start, oldParent->start);
    EXPECT_EQ(grown->from.end, oldParent->start);
    EXPECT_EQ(grown->from.depth, grown->to.depth);
    EXPECT_EQ(grown->from.kind, grown->to.kind);

    EXPECT_TRUE(fades(morph, Kind::node(sibling)));
    EXPECT_TRUE(fades(morph, Kind::node(folder)));
    EXPECT_FALSE(fades(morph, Kind::node(child)));
    EXPECT_FALSE(fades(morph, Kind::node(chain)));
}

TEST(RingMorph, FromNothingEveryArcGrowsFromItsOwnStart) {
    FileTree tree("/r");
    addFile(tree, 0, "a", 10);
    addFile(tree, 0, "b", 30);
    tree.propagateSizes();
    const auto now = RingLayout::layout(tree, 0);
    std::vector<RingLayout::Extra> extras = {{Kind::hidden(), 20}};
    const auto withExtra = RingLayout::layout(tree, 0, 5, RingLayout::defaultMinAngle, extras);

    const auto morph = RingMorph::pair({}, withExtra, parentsOf(tree));
    EXPECT_TRUE(morph.fading.empty());
    ASSERT_EQ(morph.pairs.size(), 3u);
    for (const auto& p : morph.pairs) {
        EXPECT_EQ(p.from.start, p.to.start);
        EXPECT_EQ(p.from.end, p.to.start);
    }

    const auto gone = RingMorph::pair(now, {}, parentsOf(tree));
    EXPECT_TRUE(gone.pairs.empty());
    EXPECT_EQ(gone.fading, now);
}

TEST(RingMorph, SmallerArcWithANewCountIsANewArcGrowingFromItsFolder) {
    FileTree tree("/r");
    const auto folder = addDir(tree, 0, "f");
    addFile(tree, folder, "big", 1'000'000);
    for (int i = 0; i < 5; ++i)
        addFile(tree, folder, "tiny" + std::to_string(i), 1);
    addFile(tree, 0, "other", 1'000'000);
    tree.propagateSizes();
    const auto before = RingLayout::layout(tree, 0);
    addFile(tree, folder, "tiny5", 1);
    tree.propagateSizes();
    const auto after = RingLayout::layout(tree, 0);

    const auto morph = RingMorph::pair(before, after, parentsOf(tree));
    EXPECT_TRUE(fades(morph, Kind::smaller(folder, 5)));
    const auto* grown = pairTo(morph, Kind::smaller(folder, 6));
    ASSERT_NE(grown, nullptr);
    const auto oldFolder = std::find_if(before.begin(), before.end(), [&](const RingSegment& s) {
        return s.kind == Kind::node(folder);
    });
    ASSERT_NE(oldFolder, before.end());
    EXPECT_EQ(grown->from.start, oldFolder->start);
    EXPECT_EQ(grown->from.span(), 0.0);
    EXPECT_FALSE(fades(morph, Kind::node(folder)));
}

TEST(RingMorph, LaterOldArcOfAKindWinsAndExtrasGrowInPlace) {
    const RingSegment first{Kind::node(4), 1, 0, 1, 10, 0};
    const RingSegment second{Kind::node(4), 2, 2, 3, 10, 0};
    const RingSegment orphan{Kind::node(9), 1, 1, 2, 10, 1};
    const RingSegment hidden{Kind::hidden(), 1, 3, 4, 10, -1};
    const RingSegment target{Kind::node(4), 1, 0, 2, 20, 0};
    const std::vector<RingSegment> oldList = {first, second, orphan};
    const std::vector<RingSegment> newList = {target, hidden};
    // Node 9's parent is node 4, which the old list has; node 4 has no parent.
    const auto parent = [](uint32_t n) { return n == 9 ? 4u : Kind::noNode; };
    auto morph = RingMorph::pair(oldList, newList, parent);
    ASSERT_EQ(morph.pairs.size(), 2u);
    EXPECT_EQ(morph.pairs[0].from, second);
    EXPECT_EQ(morph.pairs[1].from.start, hidden.start);
    EXPECT_EQ(morph.pairs[1].from.end, hidden.start);
    EXPECT_EQ(morph.fading, std::vector<RingSegment>{orphan}) << "both node-4 arcs matched";

    const RingSegment child{Kind::node(9), 2, 5, 6, 1, 0};
    morph = RingMorph::pair(oldList, std::vector<RingSegment>{child}, parent);
    EXPECT_EQ(morph.pairs[0].from, orphan) << "an existing arc of the same kind always matches";
    morph =
        RingMorph::pair(std::vector<RingSegment>{second}, std::vector<RingSegment>{child}, parent);
    EXPECT_EQ(morph.pairs[0].from.start, second.start) << "grows from the parent's old start";
    morph = RingMorph::pair(std::vector<RingSegment>{second}, std::vector<RingSegment>{child},
                            RingMorph::ParentLookup{});
    EXPECT_EQ(morph.pairs[0].from.start, child.start) << "without a tree: its own start";
}

TEST(RingMorph, ProgressEasesOutOverTheDuration) {
    const double d = RingMorph::duration;
    EXPECT_EQ(d, 0.38);
    EXPECT_EQ(RingMorph::progress(-0.1, d), 0.0);
    EXPECT_EQ(RingMorph::progress(0, d), 0.0);
    EXPECT_DOUBLE_EQ(RingMorph::progress(d / 2, d), 0.875);
    EXPECT_EQ(RingMorph::progress(d, d), 1.0);
    EXPECT_EQ(RingMorph::progress(5 * d, d), 1.0);
    EXPECT_EQ(RingMorph::progress(0, 0), 1.0) << "reduced motion: at once";
    EXPECT_EQ(RingMorph::progress(std::numeric_limits<double>::quiet_NaN(), d), 1.0);
    EXPECT_EQ(RingMorph::progress(0.1, std::numeric_limits<double>::quiet_NaN()), 1.0);
}

}  // namespace
}  // namespace ringkit
