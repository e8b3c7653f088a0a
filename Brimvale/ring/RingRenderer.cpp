#include "ring/RingRenderer.h"

#include <algorithm>
#include <cmath>

namespace brimvale {
namespace {

constexpr double kLevelEpsilon = 0.0005;

void copyColor(float (&out)[4], const ringkit::Rgba& c) {
    out[0] = c.r;
    out[1] = c.g;
    out[2] = c.b;
    out[3] = c.a;
}

bool finite(const RingRenderer::Shape& s) {
    return std::isfinite(s.start) && std::isfinite(s.end) && std::isfinite(s.depth);
}

}  // namespace

RingRenderer::RingRenderer(double now) : morphStart_(now), lastFrame_(now), startTime_(now) {
    vertices_.reserve(reservedVertices);
}

RingRenderer::Shape RingRenderer::shapeOf(const ringkit::RingSegment& segment, bool dark) {
    return {segment.start, segment.end, static_cast<double>(segment.depth),
            ringkit::Theme::color(segment, dark)};
}

void RingRenderer::setSegments(const ringkit::RingMorph::Result& morph, bool dark, double now,
                               bool reducedMotion) {
    dark_ = dark;
    pairs_.clear();
    pairs_.reserve(morph.pairs.size());
    for (const auto& p : morph.pairs)
        pairs_.push_back({shapeOf(p.from, dark), shapeOf(p.to, dark)});
    fading_.clear();
    fading_.reserve(morph.fading.size());
    for (const auto& s : morph.fading)
        fading_.push_back(shapeOf(s, dark));
    morphStart_ = now;
    morphDuration_ = reducedMotion ? 0 : ringkit::RingMorph::duration;
    highlighted_.reset();
}

void RingRenderer::recolor(std::span<const ringkit::RingSegment> segments, bool dark) {
    dark_ = dark;
    const size_t n = std::min(segments.size(), pairs_.size());
    for (size_t i = 0; i < n; ++i) {
        const auto c = ringkit::Theme::color(segments[i], dark);
        pairs_[i].from.color = c;
        pairs_[i].to.color = c;
    }
}

bool RingRenderer::setHighlight(std::optional<size_t> pair) {
    if (pair == highlighted_) return false;
    highlighted_ = pair;
    return true;
}

bool RingRenderer::setFullness(double value, bool reducedMotion) {
    if (!std::isfinite(value)) value = 0;
    value = std::clamp(value, 0.0, 1.0);
    if (std::abs(value - levelTarget_) <= kLevelEpsilon) return false;
    levelTarget_ = value;
    if (reducedMotion) level_ = value;
    return true;
}

double RingRenderer::unitPx(double width, double height) {
    const double u = std::min(width, height) / 2 * 0.96;
    return std::isfinite(u) && u > 0 ? u : 0;
}

std::array<float, 2> RingRenderer::scale(double width, double height) {
    const double u = unitPx(width, height);
    if (u <= 0) return {0, 0};
    return {static_cast<float>(u / (width / 2)), static_cast<float>(u / (height / 2))};
}

std::array<double, 2> RingRenderer::toRing(double x, double y, double width, double height) {
    const double u = unitPx(width, height);
    if (u <= 0) return {0, 0};
    return {(x - width / 2) / u, (height / 2 - y) / u};
}

RingRenderer::Shape RingRenderer::mix(const Shape& from, const Shape& to, double p) {
    const auto lerp = [p](double a, double b) { return a + (b - a) * p; };
    const auto lerpf = [p](float a, float b) { return static_cast<float>(a + (b - a) * p); };
    return {lerp(from.start, to.start),
            lerp(from.end, to.end),
            lerp(from.depth, to.depth),
            {lerpf(from.color.r, to.color.r), lerpf(from.color.g, to.color.g),
             lerpf(from.color.b, to.color.b), lerpf(from.color.a, to.color.a)}};
}

ringkit::Rgba RingRenderer::highlight(const ringkit::Rgba& c) {
    const auto up = [](float v) { return v * 0.65f + 0.35f; };
    return {up(c.r), up(c.g), up(c.b), up(c.a)};
}

double RingRenderer::easeLevel(double level, double target, double dt) {
    if (!std::isfinite(dt) || dt < 0) dt = 0;
    const double k = std::min(std::min(dt, 0.1) * 3.5, 1.0);
    const double next = level + (target - level) * k;
    return std::abs(target - next) < kLevelEpsilon ? target : next;
}

void RingRenderer::tessellate(const Shape& shape, double opacity, double unitPx,
                              std::vector<Vertex>& out, const ringkit::RingGeometry& geometry) {
    if (!finite(shape) || !(unitPx > 0) || !std::isfinite(unitPx)) return;
    if (shape.depth < 1 || shape.depth > geometry.maxDepth) return;
    const double band = geometry.band();
    const double r0 = geometry.centerRadius + (shape.depth - 1) * band;
    const double r1 = r0 + band;
    double start = shape.start;
    double end = shape.end;
    const double px = 1 / (unitPx * (r0 + r1) / 2);
    if (3 * px < end - start) {
        start += px / 2;
        end -= px / 2;
    }
    if (!(start < end)) return;
    // Beyond a full turn the steps would only overdraw.
    end = std::min(end, start + 2 * 3.14159265358979323846);
    const auto n = static_cast<int>(std::max(1.0, std::ceil((end - start) / degree)));
    const double ri = r0 + 0.8 / unitPx;
    const double ro = r1 - 0.8 / unitPx;
    if (!(ri < ro)) return;
    const float alpha = static_cast<float>(shape.color.a * std::clamp(opacity, 0.0, 1.0));
    const float color[4] = {shape.color.r * alpha, shape.color.g * alpha, shape.color.b * alpha,
                            alpha};
    const auto vertex = [&](double r, double a) {
        Vertex v{{static_cast<float>(r * std::sin(a)), static_cast<float>(r * std::cos(a))},
                 {0, 1},
                 {color[0], color[1], color[2], color[3]}};
        out.push_back(v);
    };
    double a0 = start;
    for (int k = 1; k <= n; ++k) {
        const double a1 = start + (end - start) * k / n;
        vertex(ri, a0);
        vertex(ro, a0);
        vertex(ri, a1);
        vertex(ri, a1);
        vertex(ro, a0);
        vertex(ro, a1);
        a0 = a1;
    }
}

bool RingRenderer::animating(double now) const {
    return ringkit::RingMorph::progress(now - morphStart_, morphDuration_) < 1 ||
           level_ != levelTarget_;
}

bool RingRenderer::frame(double now, double width, double height) {
    const double dt = std::min(now - lastFrame_, 0.1);
    lastFrame_ = now;
    level_ = easeLevel(level_, levelTarget_, dt);

    const double u = unitPx(width, height);
    const double p = ringkit::RingMorph::progress(now - morphStart_, morphDuration_);
    vertices_.clear();
    drawn_.clear();
    for (size_t i = 0; i < pairs_.size(); ++i) {
        Shape s = mix(pairs_[i].from, pairs_[i].to, p);
        if (highlighted_ == i) s.color = highlight(s.color);
        tessellate(s, 1, u, vertices_, geometry_);
        drawn_.push_back({s, 1, false, i});
    }
    if (p < 1) {
        for (size_t i = 0; i < fading_.size(); ++i) {
            tessellate(fading_[i], 1 - p, u, vertices_, geometry_);
            drawn_.push_back({fading_[i], 1 - p, true, i});
        }
    }

    const auto sc = scale(width, height);
    uniforms_.scale[0] = sc[0];
    uniforms_.scale[1] = sc[1];
    uniforms_.time = static_cast<float>(now - startTime_);
    uniforms_.level = static_cast<float>(level_);
    uniforms_.amp = 0;
    uniforms_.centerR = static_cast<float>(geometry_.centerRadius);
    uniforms_.pxPerUnit = static_cast<float>(u);
    uniforms_.pad = 0;
    copyColor(uniforms_.discColor, ringkit::Theme::centerDisc(dark_));
    copyColor(uniforms_.arcColor, ringkit::Theme::arc(dark_));
    copyColor(uniforms_.trackColor, ringkit::Theme::track(dark_));
    copyColor(uniforms_.unused, {0, 0, 0, 0});
    return p < 1 || level_ != levelTarget_;
}

}  // namespace brimvale
