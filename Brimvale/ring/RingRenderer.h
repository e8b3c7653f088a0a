#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "RingKit/RingGeometry.h"
#include "RingKit/RingMorph.h"
#include "RingKit/RingSegment.h"
#include "RingKit/Theme.h"

// The ring's drawing without any GPU: turns the morph pairs of two layouts into the triangles of
// one frame, eases the fullness arc, and fills the uniform block the centre disc's shader reads.
// The Qt Quick item hands vertices() and uniforms() to the scene graph; nothing here knows Qt.
//
// Times are seconds on one monotonic clock chosen by the caller. A plain value owned by one
// thread (the item keeps it on the GUI thread and copies what a frame needs).
namespace brimvale {

class RingRenderer {
public:
    // An arc ready to draw; depth is real so an arc moving between rings slides radially.
    struct Shape {
        double start = 0;
        double end = 0;
        double depth = 1;
        ringkit::Rgba color;  // sRGB, not premultiplied
    };

    // One vertex as the scene graph's vertex-colour material reads it: the position in ring
    // units (y up), then (0, 1) so the material reads a homogeneous point (z, w), and the
    // colour premultiplied by its alpha (the stock material does no premultiplication).
    struct Vertex {
        float pos[2];
        float pad[2];
        float color[4];
    };
    static_assert(sizeof(Vertex) == 32);

    // The centre disc's parameters in the order its shader declares them (std140, 96 bytes).
    // The scene graph puts its matrix and opacity in front (see RingCenterMaterial).
    struct Uniforms {
        float scale[2] = {0, 0};  // ring units to clip space
        float time = 0;           // seconds since the renderer was made
        float level = 0;          // fullness 0 to 1
        float amp = 0;
        float centerR = 0.3f;
        float pxPerUnit = 0;
        float pad = 0;
        float discColor[4] = {};
        float arcColor[4] = {};
        float trackColor[4] = {};
        float unused[4] = {};
    };
    static_assert(sizeof(Uniforms) == 96);

    struct ShapePair {
        Shape from;
        Shape to;
    };

    // An arc as the current frame draws it, with the opacity it is drawn at.
    struct Drawn {
        Shape shape;
        double opacity = 1;
        bool fading = false;
        size_t index = 0;  // into pairs() or fading()
    };

    static constexpr size_t reservedVertices = 24000;
    static constexpr double degree = 3.14159265358979323846 / 180;

    explicit RingRenderer(double now);

    // A new layout: pairs move from where they were, fading arcs go. Restarts the animation; with
    // reduced motion the new layout stands at once. Clears the highlight.
    void setSegments(const ringkit::RingMorph::Result& morph, bool dark, double now,
                     bool reducedMotion);
    // The colour scheme changed for the current layout.
    void recolor(std::span<const ringkit::RingSegment> segments, bool dark);
    // True when the value changed (the caller then asks for a frame).
    bool setHighlight(std::optional<size_t> pair);
    // A new target for the fullness arc (non-finite counts as 0, clamped to [0, 1]); jumps there
    // with reduced motion. True when it changed anything.
    bool setFullness(double value, bool reducedMotion);

    // Builds the frame at `now` for a view of width × height pixels: advances the fullness,
    // tessellates every arc and fills the uniforms. True while something still moves.
    bool frame(double now, double width, double height);

    const std::vector<Vertex>& vertices() const { return vertices_; }
    const Uniforms& uniforms() const { return uniforms_; }
    // The arcs of the last frame, pairs first then fading ones, in drawing order.
    const std::vector<Drawn>& drawn() const { return drawn_; }
    const std::vector<ShapePair>& pairs() const { return pairs_; }
    const std::vector<Shape>& fading() const { return fading_; }
    std::optional<size_t> highlighted() const { return highlighted_; }
    bool dark() const { return dark_; }
    double level() const { return level_; }
    double levelTarget() const { return levelTarget_; }
    double morphDuration() const { return morphDuration_; }
    // True while a morph or the fullness easing is still under way at `now`.
    bool animating(double now) const;

    // Pixels per ring unit: the ring's radius 1 fills 96 % of half the shorter side (0 for an
    // empty or non-finite view).
    [[nodiscard]] static double unitPx(double width, double height);
    [[nodiscard]] static std::array<float, 2> scale(double width, double height);
    // A point of the view (pixels, y down, origin top left) in ring units (y up); (0, 0) when
    // the view is empty. The same scale as drawing.
    [[nodiscard]] static std::array<double, 2> toRing(double x, double y, double width,
                                                      double height);
    // The shape of a segment in a colour scheme.
    [[nodiscard]] static Shape shapeOf(const ringkit::RingSegment& segment, bool dark);
    // from + (to − from) × p on every field and colour channel.
    [[nodiscard]] static Shape mix(const Shape& from, const Shape& to, double p);
    // The hovered arc's lighter colour.
    [[nodiscard]] static ringkit::Rgba highlight(const ringkit::Rgba& color);
    // One step of the fullness easing after dt seconds (dt capped at 0.1).
    [[nodiscard]] static double easeLevel(double level, double target, double dt);
    // Appends the triangles of one arc: a step per degree, half a pixel off each end of arcs
    // wider than three pixels, 0.8 pixels off both edges of the ring. Nothing for an arc of no
    // width, outside the rings, with non-finite fields, or for a view of no size.
    static void tessellate(const Shape& shape, double opacity, double unitPx,
                           std::vector<Vertex>& out,
                           const ringkit::RingGeometry& geometry = ringkit::RingGeometry());

private:
    ringkit::RingGeometry geometry_;
    std::vector<ShapePair> pairs_;
    std::vector<Shape> fading_;
    double morphStart_;
    double morphDuration_ = ringkit::RingMorph::duration;
    std::optional<size_t> highlighted_;
    bool dark_ = false;
    double level_ = 0;
    double levelTarget_ = 0;
    double lastFrame_;
    double startTime_;
    std::vector<Vertex> vertices_;
    std::vector<Drawn> drawn_;
    Uniforms uniforms_;
};

}  // namespace brimvale
