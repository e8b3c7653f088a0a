#include "RingKit/RingLabelFit.h"

#include <cmath>
#include <numbers>

namespace ringkit {

std::optional<RingLabelFit::Placement> RingLabelFit::place(double start, double end, double depth,
                                                           double unitPx, double textWidth,
                                                           double textHeight,
                                                           const RingGeometry& geometry) {
    for (double v : {start, end, depth, unitPx, textWidth, textHeight})
        if (!std::isfinite(v)) return std::nullopt;
    if (unitPx <= 0 || depth < 1 || depth > deepestLabelledRing + 0.5) return std::nullopt;
    const double band = geometry.band();
    const double mid = geometry.centerRadius + (depth - 0.5) * band;
    const double length = (end - start) * mid * unitPx;
    if (textWidth + 2 * margin > length || textHeight + margin > band * unitPx) return std::nullopt;
    const double a = (start + end) / 2;
    double degrees = a * 180 / std::numbers::pi;
    degrees = std::fmod(degrees, 360.0);
    if (degrees < 0) degrees += 360;
    // On the lower half the text turns round so that it reads left to right.
    const double rotation = degrees > 90 && degrees < 270 ? degrees - 180 : degrees;
    return Placement{mid * std::sin(a), mid * std::cos(a), rotation};
}

Rgba RingLabelFit::textColor(const Rgba& fill) {
    const double luminance = 0.2126 * fill.r + 0.7152 * fill.g + 0.0722 * fill.b;
    return luminance > 0.6 ? Rgba{0.11f, 0.11f, 0.14f, 1} : Rgba{1, 1, 1, 1};
}

}  // namespace ringkit
