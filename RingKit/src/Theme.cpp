#include "RingKit/Theme.h"

#include <algorithm>

namespace ringkit {

Rgba Theme::color(const RingSegment& segment, bool dark) {
    using Case = RingSegment::Kind::Case;
    switch (segment.kind.which) {
        case Case::node: {
            const auto hue = branchHues[static_cast<size_t>(std::max<int64_t>(segment.branch, 0) %
                                                            branchHues.size())];
            double base[3] = {hue.r / 255.0, hue.g / 255.0, hue.b / 255.0};
            if (dark) {
                for (double& c : base)
                    c = c * 0.85 + 0.08;
            }
            const Rgba bg = background(dark);
            const double back[3] = {bg.r, bg.g, bg.b};
            // Past the seventh ring the blend would overshoot the background into other hues.
            const double t = std::clamp((dark ? 0.13 : 0.15) * (segment.depth - 1), 0.0, 1.0);
            float out[3];
            for (int i = 0; i < 3; ++i)
                out[i] = static_cast<float>(base[i] * (1 - t) + back[i] * t);
            return {out[0], out[1], out[2], 1};
        }
        case Case::smaller:
            return dark ? rgb({82, 82, 92}) : rgb({184, 184, 198});
        case Case::hidden:
            return dark ? rgb({69, 69, 79}, 0.75f) : rgb({200, 200, 212}, 0.75f);
        case Case::purgeable:
            return dark ? rgb({74, 74, 120}, 0.8f) : rgb({195, 195, 236}, 0.8f);
    }
    return {};
}

Rgba Theme::background(bool dark) {
    return dark ? rgb({28, 28, 34}) : rgb({246, 246, 249});
}

Rgba Theme::centerDisc(bool dark) {
    return dark ? Rgba{0.165f, 0.165f, 0.196f, 1} : Rgba{0.925f, 0.925f, 0.949f, 1};
}

Rgba Theme::track(bool dark) {
    return dark ? Rgba{0.24f, 0.24f, 0.29f, 1} : Rgba{0.85f, 0.85f, 0.9f, 1};
}

Rgba Theme::arc(bool dark) {
    return dark ? indigoLight : indigo;
}

}  // namespace ringkit
