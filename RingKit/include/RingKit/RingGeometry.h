#pragma once

// The radii of the ring, in units of its half-size (the whole drawing fits in radius 1): the
// centre disc, then `maxDepth` rings of equal width out to `outerRadius`. A plain value.
namespace ringkit {

struct RingGeometry {
    double centerRadius = 0.3;
    double outerRadius = 0.98;
    int maxDepth = 5;

    // Inner and outer edge of ring `depth` (1-based). With maxDepth <= 0 there are no rings and
    // both give centerRadius.
    double inner(int depth) const { return centerRadius + band() * (depth - 1); }
    double outer(int depth) const { return centerRadius + band() * depth; }
    // The width of one ring.
    double band() const { return maxDepth > 0 ? (outerRadius - centerRadius) / maxDepth : 0.0; }

    bool operator==(const RingGeometry&) const = default;
};

}  // namespace ringkit
