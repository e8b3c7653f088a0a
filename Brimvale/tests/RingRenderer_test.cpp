#include "ring/RingRenderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace brimvale {
namespace {

using ringkit::RingMorph;
using ringkit::RingSegment;
using Kind = RingSegment::Kind;
using Shape = RingRenderer::Shape;

constexpr double kPi = std::numbers::pi;

// Angle of one pixel at the middle of ring 1 for a given scale.
double pixelAngle(double unitPx) {
    const ringkit::RingGeometry g;
    const double r0 = g.centerRadius + 0 * g.band();
    return 1 / (unitPx * (r0 + (r0 + g.band())) / 2);
}

// The smallest and largest angle the triangles of an arc reach.
std::pair<double, double> angularExtent(const std::vector<RingRenderer::Vertex>& v) {
    double lo = 1e9, hi = -1e9;
    for (const auto& x : v) {
        const double a = std::atan2(x.pos[0], x.pos[1]);
        lo = std::min(lo, a);
        hi = std::max(hi, a);
    }
    return {lo, hi};
}

RingSegment arc(uint32_t node, int depth, double start, double end, int64_t branch = 0) {
    return {Kind::node(node), depth, start, end, 100, branch};
}

RingMorph::Result grownFromNothing(std::vector<RingSegment> segments) {
    RingMorph::Result r;
    for (const auto& s : segments) {
        RingSegment from = s;
        from.end = from.start;
        r.pairs.push_back({from, s});
    }
    return r;
}

TEST(RingRendererTessellation, ArcOfExactlyThreePixelsKeepsItsEndsAndAWiderOneLosesHalfAPixel) {
    const double unit = 300;
    const double px = pixelAngle(unit);
    const double start = 0;

    std::vector<RingRenderer::Vertex> exact;
    RingRenderer::tessellate({start, start + 3 * px, 1, {1, 0, 0, 1}}, 1, unit, exact);
    ASSERT_FALSE(exact.empty());
    auto [lo, hi] = angularExtent(exact);
    EXPECT_NEAR(lo, start, 1e-6);
    EXPECT_NEAR(hi, start + 3 * px, 1e-6);

    std::vector<RingRenderer::Vertex> wider;
    const double w = 3 * px * 1.01;
    RingRenderer::tessellate({start, start + w, 1, {1, 0, 0, 1}}, 1, unit, wider);
    std::tie(lo, hi) = angularExtent(wider);
    EXPECT_NEAR(lo, start + px / 2, 1e-6);
    EXPECT_NEAR(hi, start + w - px / 2, 1e-6);
}

TEST(RingRendererTessellation, SubPixelArcIsOneUntrimmedStepUnlessItHasNoSpan) {
    const double unit = 300;
    const double tiny = pixelAngle(unit) * 0.2;
    std::vector<RingRenderer::Vertex> v;
    RingRenderer::tessellate({2.0, 2.0 + tiny, 3, {0, 1, 0, 1}}, 1, unit, v);
    ASSERT_EQ(v.size(), 6u);
    const auto [lo, hi] = angularExtent(v);
    EXPECT_NEAR(hi - lo, tiny, 1e-7);

    v.clear();
    RingRenderer::tessellate({2.0, 2.0, 3, {0, 1, 0, 1}}, 1, unit, v);
    EXPECT_TRUE(v.empty());
}

TEST(RingRendererTessellation, FullCircleTakesOneStepPerDegree) {
    std::vector<RingRenderer::Vertex> v;
    RingRenderer::tessellate({0, 2 * kPi, 1, {0, 0, 1, 1}}, 1, 384, v);
    EXPECT_EQ(v.size(), 2160u);
}

TEST(RingRendererTessellation, RingEdgesAreInsetByEightTenthsOfAPixel) {
    const double unit = 200;
    std::vector<RingRenderer::Vertex> v;
    RingRenderer::tessellate({0.5, 1.5, 2, {1, 1, 1, 1}}, 1, unit, v);
    ASSERT_FALSE(v.empty());
    double rmin = 1e9, rmax = 0;
    for (const auto& x : v) {
        const double r = std::hypot(x.pos[0], x.pos[1]);
        rmin = std::min(rmin, r);
        rmax = std::max(rmax, r);
        EXPECT_EQ(x.pad[0], 0.0f);
        EXPECT_EQ(x.pad[1], 1.0f);
    }
    EXPECT_NEAR(rmin, 0.436 + 0.8 / unit, 1e-6);
    EXPECT_NEAR(rmax, 0.572 - 0.8 / unit, 1e-6);
}

TEST(RingRendererTessellation, ColoursArePremultipliedAndScaledByOpacity) {
    std::vector<RingRenderer::Vertex> v;
    RingRenderer::tessellate({0, 1, 1, {1, 0.5f, 0.2f, 0.8f}}, 0.5, 300, v);
    ASSERT_FALSE(v.empty());
    EXPECT_FLOAT_EQ(v[0].color[3], 0.4f);
    EXPECT_FLOAT_EQ(v[0].color[0], 0.4f);
    EXPECT_FLOAT_EQ(v[0].color[1], 0.2f);
    EXPECT_FLOAT_EQ(v[0].color[2], 0.08f);
}

TEST(RingRendererTessellation, BadShapesAndEmptyViewsDrawNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<RingRenderer::Vertex> v;
    RingRenderer::tessellate({0, 1, 1, {}}, 1, 0, v);
    RingRenderer::tessellate({0, 1, 1, {}}, 1, nan, v);
    RingRenderer::tessellate({nan, 1, 1, {}}, 1, 300, v);
    RingRenderer::tessellate({0, inf, 1, {}}, 1, 300, v);
    RingRenderer::tessellate({0, 1, 6, {}}, 1, 300, v);
    RingRenderer::tessellate({0, 1, 0.5, {}}, 1, 300, v);
    RingRenderer::tessellate({1, 0.5, 1, {}}, 1, 300, v);
    // On a one-pixel-high view the inset eats the whole ring.
    RingRenderer::tessellate({0, 1, 1, {}}, 1, RingRenderer::unitPx(1, 1000), v);
    EXPECT_TRUE(v.empty());
}

TEST(RingRendererScale, FourHundredByThreeHundredView) {
    EXPECT_DOUBLE_EQ(RingRenderer::unitPx(400, 300), 144);
    const auto s = RingRenderer::scale(400, 300);
    EXPECT_FLOAT_EQ(s[0], 0.72f);
    EXPECT_FLOAT_EQ(s[1], 0.96f);
    const auto top = RingRenderer::toRing(200, 150 - 144, 400, 300);
    EXPECT_NEAR(top[0], 0, 1e-12);
    EXPECT_NEAR(top[1], 1, 1e-12) << "y grows upward";
    EXPECT_EQ(RingRenderer::toRing(5, 5, 0, 0), (std::array<double, 2>{0, 0}));
    EXPECT_EQ(RingRenderer::scale(0, 300), (std::array<float, 2>{0, 0}));
}

TEST(RingRendererColour, HighlightLightensEveryChannel) {
    const auto h = RingRenderer::highlight({0.2f, 0.4f, 1.0f, 0.5f});
    EXPECT_FLOAT_EQ(h.r, 0.2f * 0.65f + 0.35f);
    EXPECT_FLOAT_EQ(h.g, 0.4f * 0.65f + 0.35f);
    EXPECT_FLOAT_EQ(h.b, 1.0f);
    EXPECT_FLOAT_EQ(h.a, 0.5f * 0.65f + 0.35f);
}

TEST(RingRendererMorph, HalfwayArcsSitBetweenTheirEndsAndFadingOnesHalfTransparent) {
    RingRenderer r(0);
    RingMorph::Result m;
    m.pairs.push_back({arc(1, 2, 0, 1), arc(1, 1, 1, 3)});
    m.fading.push_back(arc(2, 1, 4, 5));
    r.setSegments(m, false, 10, false);
    // Ease-out cubic reaches one half at t = 1 − 2^(−1/3).
    const double t = (1 - std::cbrt(0.5)) * RingMorph::duration;
    EXPECT_TRUE(r.frame(10 + t, 800, 800));
    ASSERT_EQ(r.drawn().size(), 2u);
    EXPECT_NEAR(r.drawn()[0].shape.start, 0.5, 1e-9);
    EXPECT_NEAR(r.drawn()[0].shape.end, 2, 1e-9);
    EXPECT_NEAR(r.drawn()[0].shape.depth, 1.5, 1e-9);
    EXPECT_TRUE(r.drawn()[1].fading);
    EXPECT_NEAR(r.drawn()[1].opacity, 0.5, 1e-9);

    EXPECT_FALSE(r.frame(10 + RingMorph::duration, 800, 800)) << "the morph is over";
    ASSERT_EQ(r.drawn().size(), 1u) << "fading arcs are gone at the end";
    EXPECT_EQ(r.drawn()[0].shape.start, 1);
}

TEST(RingRendererMorph, ReducedMotionShowsTheNewLayoutAtOnceWithoutFadingArcs) {
    RingRenderer r(0);
    RingMorph::Result m;
    m.pairs.push_back({arc(1, 2, 0, 1), arc(1, 1, 1, 3)});
    m.fading.push_back(arc(2, 1, 4, 5));
    r.setSegments(m, false, 5, true);
    EXPECT_EQ(r.morphDuration(), 0);
    EXPECT_FALSE(r.frame(5, 800, 800));
    ASSERT_EQ(r.drawn().size(), 1u);
    EXPECT_EQ(r.drawn()[0].shape.start, 1);
    EXPECT_EQ(r.drawn()[0].shape.depth, 1);

    EXPECT_TRUE(r.setFullness(0.7, true));
    EXPECT_EQ(r.level(), 0.7) << "the fullness arc jumps";
    EXPECT_FALSE(r.animating(5));
}

TEST(RingRendererMorph, NewLayoutClearsTheHighlightAndRecolorKeepsTheShapes) {
    RingRenderer r(0);
    const auto segments = std::vector<RingSegment>{arc(1, 1, 0, 2, 0), arc(2, 1, 2, 4, 1)};
    r.setSegments(grownFromNothing(segments), false, 0, true);
    EXPECT_TRUE(r.setHighlight(1));
    EXPECT_FALSE(r.setHighlight(1)) << "an equal value asks for no frame";
    r.frame(1, 400, 400);
    const auto base = ringkit::Theme::color(segments[1], false);
    EXPECT_FLOAT_EQ(r.drawn()[1].shape.color.r, RingRenderer::highlight(base).r);
    EXPECT_FLOAT_EQ(r.drawn()[0].shape.color.r, ringkit::Theme::color(segments[0], false).r);

    r.recolor(segments, true);
    EXPECT_TRUE(r.dark());
    EXPECT_EQ(r.pairs()[0].to.color, ringkit::Theme::color(segments[0], true));
    EXPECT_EQ(r.pairs()[0].to.start, 0);

    r.setSegments(grownFromNothing(segments), true, 2, true);
    EXPECT_FALSE(r.highlighted().has_value());
}

TEST(RingRendererFullness, EasesTowardItsTargetAndSettlesExactly) {
    EXPECT_DOUBLE_EQ(RingRenderer::easeLevel(0, 1, 0.1), 0.35);
    EXPECT_DOUBLE_EQ(RingRenderer::easeLevel(0, 1, 5), 0.35) << "long gaps count as 0.1 s";
    EXPECT_DOUBLE_EQ(RingRenderer::easeLevel(0.9997, 1, 0.01), 1);

    RingRenderer r(0);
    EXPECT_TRUE(r.setFullness(0.5, false));
    EXPECT_FALSE(r.setFullness(0.5004, false)) << "changes under 0.0005 are ignored";
    double now = 0;
    int frames = 0;
    while (r.frame(now += 1.0 / 60, 400, 400) && frames < 1000)
        ++frames;
    EXPECT_LT(frames, 200);
    EXPECT_EQ(r.level(), 0.5);
    EXPECT_FLOAT_EQ(r.uniforms().level, 0.5f);
}

TEST(RingRendererFullness, NonFiniteAndOutOfRangeTargetsAreClamped) {
    RingRenderer r(0);
    r.setFullness(1.5, true);
    EXPECT_EQ(r.levelTarget(), 1);
    r.setFullness(-3, true);
    EXPECT_EQ(r.levelTarget(), 0);
    r.setFullness(0.4, true);
    r.setFullness(std::numeric_limits<double>::quiet_NaN(), true);
    EXPECT_EQ(r.levelTarget(), 0);
}

TEST(RingRendererUniforms, FollowTheViewAndTheColourScheme) {
    RingRenderer r(100);
    r.setSegments({}, true, 100, false);
    r.frame(101.5, 400, 300);
    const auto& u = r.uniforms();
    EXPECT_FLOAT_EQ(u.scale[0], 0.72f);
    EXPECT_FLOAT_EQ(u.scale[1], 0.96f);
    EXPECT_FLOAT_EQ(u.time, 1.5f);
    EXPECT_FLOAT_EQ(u.centerR, 0.3f);
    EXPECT_FLOAT_EQ(u.pxPerUnit, 144);
    EXPECT_FLOAT_EQ(u.discColor[0], ringkit::Theme::centerDisc(true).r);
    EXPECT_FLOAT_EQ(u.arcColor[2], ringkit::Theme::arc(true).b);
    EXPECT_FLOAT_EQ(u.trackColor[1], ringkit::Theme::track(true).g);
    EXPECT_TRUE(r.vertices().empty());
}

TEST(RingRendererBadInput, ThousandsOfHairlineArcsAndAnEmptyViewStayInsideTheRing) {
    std::vector<RingSegment> segments;
    for (int i = 0; i < 5000; ++i)
        segments.push_back(arc(i, 1 + i % 5, i * 1e-4, i * 1e-4 + 5e-5, i));
    RingRenderer r(0);
    r.setSegments(grownFromNothing(segments), false, 0, true);
    r.frame(0, 7680, 4320);
    EXPECT_EQ(r.vertices().size(), 5000u * 6);
    for (const auto& v : r.vertices())
        ASSERT_LE(std::hypot(v.pos[0], v.pos[1]), 0.98 + 1e-6);
    r.frame(0, 0, 0);
    EXPECT_TRUE(r.vertices().empty());
}

}  // namespace
}  // namespace brimvale
