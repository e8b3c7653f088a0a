#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>

#include "RandomTrees.h"
#include "RingKit/RingHitIndex.h"
#include "RingKit/RingLayout.h"

namespace ringkit {
namespace {

using quenwick::FileTree;
using Kind = RingSegment::Kind;

constexpr double kPi = std::numbers::pi;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

RingSegment arc(uint32_t node, int depth, double start, double end) {
    return {Kind::node(node), depth, start, end, 1, 0};
}

// The point at angle a (clockwise from the top) and radius r.
std::pair<double, double> polar(double r, double a) {
    return {r * std::sin(a), r * std::cos(a)};
}

// Both ways of hit testing, which must always agree.
RingHit hit(const std::vector<RingSegment>& segments, double x, double y,
            const RingGeometry& g = {}) {
    const RingHit linear = RingLayout::hitTest(segments, g, x, y);
    EXPECT_EQ(RingHitIndex(segments, g).hitTest(x, y), linear) << "at " << x << ", " << y;
    return linear;
}

TEST(RingHitTest, RadiiOnTheEdgesBelongToTheRings) {
    const std::vector<RingSegment> full = {arc(1, 1, 0, 2 * kPi), arc(2, 5, 0, 2 * kPi)};
    EXPECT_EQ(hit(full, 0, 0.3), RingHit::segment(0));
    EXPECT_EQ(hit(full, 0, 0.2999), RingHit::center());
    EXPECT_EQ(hit(full, 0, 0), RingHit::center());
    EXPECT_EQ(hit(full, 0, 0.98), RingHit::segment(1)) << "the outer edge is the last ring";
    EXPECT_EQ(hit(full, 0, 0.9801), RingHit::none());
    EXPECT_EQ(hit(full, 0.7, 0.7), RingHit::none());
}

TEST(RingHitTest, TopOfTheRingAndArcBoundaries) {
    const std::vector<RingSegment> segments = {arc(1, 1, 0, 1), arc(2, 1, 1, 2),
                                               arc(3, 1, 2, 2 * kPi)};
    EXPECT_EQ(hit(segments, 0, 0.35), RingHit::segment(0)) << "angle 0 is the top";
    EXPECT_EQ(hit(segments, -1e-12, 0.35), RingHit::segment(2)) << "just left of the top";
    EXPECT_EQ(hit(segments, -1e-300, 0.35), RingHit::segment(2));
    const auto [bx, by] = polar(0.35, 1.0);
    const RingHit boundary = hit(segments, bx, by);
    // The computed angle of the boundary point may round to either side of 1.0; it must go to
    // the arc that holds that angle, and an exact 1.0 goes to the arc that starts there.
    EXPECT_EQ(boundary,
              RingLayout::angle(bx, by) < 1.0 ? RingHit::segment(0) : RingHit::segment(1));
    const std::vector<RingSegment> quarter = {arc(1, 1, 0, kPi / 2), arc(2, 1, kPi / 2, kPi)};
    EXPECT_EQ(RingLayout::angle(0.35, 0), kPi / 2);
    EXPECT_EQ(hit(quarter, 0.35, 0), RingHit::segment(1)) << "a boundary belongs to the next arc";
}

TEST(RingHitTest, RingsWithoutAnArcThereMissAndEmptyArcsAreNeverHit) {
    FileTree tree("/r");
    const auto folder = testing::addDir(tree, 0, "folder");
    testing::addFile(tree, folder, "inside", 20);
    testing::addFile(tree, 0, "file", 10);
    tree.propagateSizes();
    const auto segments = RingLayout::layout(tree, 0);
    ASSERT_EQ(segments.size(), 3u);  // folder [0, 4π/3), its file the same, the file after
    EXPECT_EQ(hit(segments, 0.5, 0.01), RingHit::segment(1)) << "ring 2 inside the folder";
    EXPECT_EQ(hit(segments, -0.5, -0.01), RingHit::none()) << "ring 2 beside a file";
    EXPECT_EQ(hit(segments, -0.9, -0.01), RingHit::none()) << "ring 5 is empty";

    const std::vector<RingSegment> zeroWide = {arc(1, 1, 1, 1)};
    const auto [x, y] = polar(0.35, 1);
    EXPECT_EQ(hit(zeroWide, x, y), RingHit::none());
    EXPECT_EQ(hit({}, x, y), RingHit::none());
}

TEST(RingHitTest, OverlappingArcsGoToTheFirstInListOrder) {
    const std::vector<RingSegment> overlapping = {arc(1, 2, 1, 3), arc(2, 2, 0, 2),
                                                  arc(3, 2, 1.5, 4)};
    const double r = 0.5;
    for (double a : {0.5, 1.2, 1.7, 2.5, 3.5, 5.0}) {
        const auto [x, y] = polar(r, a);
        const RingHit expected = a < 1   ? RingHit::segment(1)
                                 : a < 3 ? RingHit::segment(0)
                                 : a < 4 ? RingHit::segment(2)
                                         : RingHit::none();
        EXPECT_EQ(hit(overlapping, x, y), expected) << "angle " << a;
    }
}

TEST(RingHitTest, PointsThatAreNotNumbersAndOddGeometriesHitNothing) {
    const std::vector<RingSegment> full = {arc(1, 1, 0, 2 * kPi)};
    EXPECT_EQ(hit(full, kNaN, 0.5), RingHit::none());
    EXPECT_EQ(hit(full, 0.5, std::numeric_limits<double>::infinity()), RingHit::none());
    EXPECT_EQ(hit(full, 0, 0.5, {0.3, 0.98, 0}), RingHit::none()) << "no rings at all";
    EXPECT_EQ(hit(full, 0, 0.1, {0.3, 0.98, 0}), RingHit::center());
    EXPECT_EQ(hit(full, 0, 0.3, {0.3, 0.3, 5}), RingHit::segment(0)) << "rings of no width";
    EXPECT_EQ(hit(full, 0, 0.5, {kNaN, kNaN, 5}), RingHit::none());
}

TEST(RingHitTest, EverySectorOfRandomLayoutsHitsItsOwnArc) {
    std::mt19937_64 rng(99);
    const RingGeometry g;
    for (uint64_t seed = 0; seed < 400; ++seed) {
        FileTree tree = testing::randomTree(seed, 300);
        if (seed % 4 == 0) testing::scrambleFolderSizes(tree, seed);
        const auto segments = RingLayout::layout(tree, 0);
        const RingHitIndex index(segments, g);
        for (size_t i = 0; i < segments.size(); ++i) {
            const auto& s = segments[i];
            if (s.span() < 1e-9) continue;  // too narrow to aim at through sin and cos
            const double r = (g.inner(s.depth) + g.outer(s.depth)) / 2;
            const auto [x, y] = polar(r, s.start + s.span() / 2);
            ASSERT_EQ(index.hitTest(x, y), RingHit::segment(static_cast<int64_t>(i)))
                << "seed " << seed << " segment " << i;
            ASSERT_EQ(RingLayout::hitTest(segments, g, x, y),
                      RingHit::segment(static_cast<int64_t>(i)));
        }
        // Anywhere at all, the index answers what the plain search answers.
        std::uniform_real_distribution<double> u(-1, 1);
        for (int k = 0; k < 200; ++k) {
            const double x = u(rng), y = u(rng);
            ASSERT_EQ(index.hitTest(x, y), RingLayout::hitTest(segments, g, x, y))
                << "seed " << seed << " at " << x << ", " << y;
        }
    }
}

}  // namespace
}  // namespace ringkit
