#include "RingKit/Theme.h"

#include <gtest/gtest.h>

#include <climits>

#include "RandomTrees.h"
#include "RingKit/RingLabel.h"

namespace ringkit {
namespace {

using Kind = RingSegment::Kind;

RingSegment nodeArc(int depth, int64_t branch) {
    return {Kind::node(1), depth, 0, 1, 1, branch};
}

void expectRgb(const Rgba& c, double r, double g, double b, double a = 1) {
    EXPECT_NEAR(c.r, r / 255, 1e-6);
    EXPECT_NEAR(c.g, g / 255, 1e-6);
    EXPECT_NEAR(c.b, b / 255, 1e-6);
    EXPECT_NEAR(c.a, a, 1e-6);
}

TEST(Theme, InnermostRingShowsTheBranchHue) {
    expectRgb(Theme::color(nodeArc(1, 0), false), 91, 91, 214);
    // Hues repeat every eight branches; an arc without a branch takes the first.
    expectRgb(Theme::color(nodeArc(1, 9), false), 59, 168, 160);
    expectRgb(Theme::color(nodeArc(1, 7), false), 107, 122, 144);
    expectRgb(Theme::color(nodeArc(1, -1), false), 91, 91, 214);
}

TEST(Theme, OuterRingsFadeTowardTheBackground) {
    // Light: t = 0.15 per ring toward (246, 246, 249).
    expectRgb(Theme::color(nodeArc(3, 2), false), 224 * 0.7 + 246 * 0.3, 168 * 0.7 + 246 * 0.3,
              79 * 0.7 + 249 * 0.3);
    // Dark: the hue is lifted first (x 0.85 + 0.08), then t = 0.13 per ring toward (28, 28, 34).
    const auto lift = [](double c) { return c * 0.85 + 0.08 * 255; };
    expectRgb(Theme::color(nodeArc(2, 2), true), lift(224) * 0.87 + 28 * 0.13,
              lift(168) * 0.87 + 28 * 0.13, lift(79) * 0.87 + 34 * 0.13);
    // Far past the fifth ring the colour settles on the background instead of overshooting.
    expectRgb(Theme::color(nodeArc(40, 0), false), 246, 246, 249);
    expectRgb(Theme::color(nodeArc(INT_MAX, 0), true), 28, 28, 34);
}

TEST(Theme, AggregateArcsAndCentreHaveTheirOwnColours) {
    const RingSegment smaller{Kind::smaller(1, 3), 2, 0, 1, 1, -1};
    const RingSegment hidden{Kind::hidden(), 1, 0, 1, 1, -1};
    const RingSegment purgeable{Kind::purgeable(), 1, 0, 1, 1, -1};
    expectRgb(Theme::color(smaller, false), 184, 184, 198);
    expectRgb(Theme::color(smaller, true), 82, 82, 92);
    expectRgb(Theme::color(hidden, false), 200, 200, 212, 0.75);
    expectRgb(Theme::color(hidden, true), 69, 69, 79, 0.75);
    expectRgb(Theme::color(purgeable, false), 195, 195, 236, 0.8);
    expectRgb(Theme::color(purgeable, true), 74, 74, 120, 0.8);
    EXPECT_EQ(Theme::centerDisc(false), (Rgba{0.925f, 0.925f, 0.949f, 1}));
    EXPECT_EQ(Theme::centerDisc(true), (Rgba{0.165f, 0.165f, 0.196f, 1}));
    EXPECT_EQ(Theme::track(false), (Rgba{0.85f, 0.85f, 0.9f, 1}));
    EXPECT_EQ(Theme::track(true), (Rgba{0.24f, 0.24f, 0.29f, 1}));
    EXPECT_EQ(Theme::arc(false), Theme::indigo);
    EXPECT_EQ(Theme::arc(true), Theme::indigoLight);
}

TEST(RingLabel, KindsReadAsTheAppShowsThem) {
    quenwick::FileTree tree("/home/ann");
    const auto docs = testing::addDir(tree, 0, "Docs\xff");
    EXPECT_EQ(ringLabel(tree, Kind::node(0), "Home"), "Home");
    EXPECT_EQ(ringLabel(tree, Kind::node(docs), "Home"), "Docs\xEF\xBF\xBD");
    EXPECT_EQ(ringLabel(tree, Kind::node(99), "Home"), "");
    EXPECT_EQ(ringLabel(tree, Kind::smaller(0, 12345), "Home"), "12,345 smaller items");
    EXPECT_EQ(ringLabel(tree, Kind::hidden(), "Home"), "Hidden & system space");
    EXPECT_EQ(ringLabel(tree, Kind::purgeable(), "Home"),
              "Purgeable (the system frees this itself)");
}

TEST(RingLabel, CountsGroupThousands) {
    EXPECT_EQ(formatCount(0), "0");
    EXPECT_EQ(formatCount(999), "999");
    EXPECT_EQ(formatCount(1000), "1,000");
    EXPECT_EQ(formatCount(1234567), "1,234,567");
    EXPECT_EQ(formatCount(-1000), "-1,000");
    EXPECT_EQ(formatCount(INT64_MIN), "-9,223,372,036,854,775,808");
}

}  // namespace
}  // namespace ringkit
