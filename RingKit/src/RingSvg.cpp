#include "RingKit/RingSvg.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

#include "QuenwickCore/ByteFormat.h"
#include "QuenwickCore/Utf8.h"
#include "RingKit/RingLabelFit.h"
#include "RingKit/Theme.h"

namespace ringkit {
namespace {

constexpr double kPi = std::numbers::pi;

std::string number(double v) {
    if (!std::isfinite(v)) v = 0;
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
    std::string s(buf, r.ptr);
    if (s == "-0.00") s = "0.00";
    return s;
}

std::string hex(const Rgba& c) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out = "#";
    for (float f : {c.r, c.g, c.b}) {
        const int v = static_cast<int>(std::lround(std::clamp(f, 0.0f, 1.0f) * 255.0f));
        out += kDigits[v >> 4];
        out += kDigits[v & 15];
    }
    return out;
}

std::string fill(const Rgba& c) {
    std::string out = "fill=\"" + hex(c) + "\"";
    if (c.a < 1) out += " fill-opacity=\"" + number(c.a) + "\"";
    return out;
}

// Text as XML character data: markup escaped, invalid UTF-8 and the characters XML 1.0 forbids
// (C0 controls other than tab, newline and return; U+FFFE, U+FFFF) replaced by U+FFFD.
std::string xmlText(std::string_view raw) {
    const std::string text = quenwick::utf8::display(raw);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0xEF && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
            (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE) {
            out += "\xEF\xBF\xBD";
            i += 2;
            continue;
        }
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\t':
            case '\n':
            case '\r':
                out += static_cast<char>(c);
                break;
            default:
                if (c < 0x20) {
                    out += "\xEF\xBF\xBD";
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

struct Canvas {
    double centre;  // both coordinates of the ring's centre, pixels
    double unitPx;  // pixels per ring unit

    // A point at angle a (clockwise from the top) and radius r in ring units.
    std::string at(double r, double a) const {
        return number(centre + r * std::sin(a) * unitPx) + " " +
               number(centre - r * std::cos(a) * unitPx);
    }
    // A clockwise (sweep 1) or counter-clockwise arc to angle `to`, split in the middle so
    // neither half passes half a turn: a full circle stays drawable.
    std::string arcTo(double r, double from, double to, bool clockwise) const {
        const std::string radius = number(r * unitPx);
        const std::string head =
            " A " + radius + " " + radius + " 0 0 " + (clockwise ? "1 " : "0 ");
        const double mid = (from + to) / 2;
        return head + at(r, mid) + head + at(r, to);
    }
};

// The sector of one arc, trimmed like the app draws it: half a pixel off each end when the arc
// is wider than three pixels, and 0.8 pixels off both edges of the ring.
std::string sectorPath(const Canvas& c, double r0, double r1, double start, double end) {
    const double px = 1 / (c.unitPx * (r0 + r1) / 2);
    if (3 * px < end - start) {
        start += px / 2;
        end -= px / 2;
    }
    if (!(start < end)) return {};
    const double ri = r0 + 0.8 / c.unitPx;
    const double ro = r1 - 0.8 / c.unitPx;
    return "M " + c.at(ro, start) + c.arcTo(ro, start, end, true) + " L " + c.at(ri, end) +
           c.arcTo(ri, end, start, false) + " Z";
}

void appendCenter(std::string& svg, const Canvas& c, const RingGeometry& g,
                  const RingSvg::Options& o) {
    const double R = g.centerRadius * 0.94;
    const double w = R * 0.085;
    const double mid = R - w / 2 - R * 0.035;
    const double level = std::isfinite(o.fullness) ? std::clamp(o.fullness, 0.0, 1.0) : 0.0;
    const std::string cx = number(c.centre);
    svg += "<circle cx=\"" + cx + "\" cy=\"" + cx + "\" r=\"" + number(R * c.unitPx) + "\" " +
           fill(Theme::centerDisc(o.dark)) + ">";
    if (!o.centerTitle.empty()) svg += "<title>" + xmlText(o.centerTitle) + "</title>";
    svg += "</circle>\n";
    const std::string stroke = "fill=\"none\" stroke-width=\"" + number(w * c.unitPx) + "\"";
    svg += "<circle cx=\"" + cx + "\" cy=\"" + cx + "\" r=\"" + number(mid * c.unitPx) + "\" " +
           stroke + " stroke=\"" + hex(Theme::track(o.dark)) + "\"/>\n";
    // Below a thousandth the disc shows neither arc nor the dot that marks its start.
    if (level < 0.001) return;
    const std::string arcColor = hex(Theme::arc(o.dark));
    svg += "<path d=\"M " + c.at(mid, 0) + c.arcTo(mid, 0, level * 2 * kPi, true) + "\" " + stroke +
           " stroke=\"" + arcColor + "\"/>\n";
    svg += "<circle cx=\"" + cx + "\" cy=\"" + number(c.centre - mid * c.unitPx) + "\" r=\"" +
           number(w / 2 * c.unitPx) + "\" fill=\"" + arcColor + "\"/>\n";
}

size_t codepoints(std::string_view text) {
    size_t n = 0;
    for (const char ch : text)
        if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++n;
    return n;
}

// The label and size of an arc, inside it, when they fit. A viewer's font is not known here, so
// the width is estimated from an average glyph a little wider than most fonts draw.
void appendLabel(std::string& svg, const Canvas& c, const RingGeometry& g, const RingSegment& s,
                 const std::string& name, bool dark) {
    const double fontPx = std::clamp(c.unitPx / 22, 9.0, 18.0);
    const std::string size = quenwick::formatBytes(s.bytes);
    const double width =
        0.58 * fontPx * static_cast<double>(std::max(codepoints(name), codepoints(size)));
    const auto at = RingLabelFit::place(s.start, s.end, s.depth, c.unitPx, width, fontPx * 2.4, g);
    if (!at) return;
    const std::string x = number(c.centre + at->x * c.unitPx);
    const std::string y = number(c.centre - at->y * c.unitPx);
    const std::string color = hex(RingLabelFit::textColor(Theme::color(s, dark)));
    svg += "<text transform=\"translate(" + x + " " + y + ") rotate(" + number(at->rotation) +
           ")\" text-anchor=\"middle\" font-family=\"sans-serif\" font-size=\"" + number(fontPx) +
           "\" fill=\"" + color + "\"><tspan x=\"0\" dy=\"-0.2em\">" + xmlText(name) +
           "</tspan><tspan x=\"0\" dy=\"1.2em\">" + xmlText(size) + "</tspan></text>\n";
}

}  // namespace

std::string RingSvg::render(std::span<const RingSegment> segments, const RingGeometry& geometry,
                            const Label& label, const Options& options) {
    const int size = std::max(options.size, 16);
    // The ring's radius 1 fills 96 % of half the picture, as in the app.
    const Canvas c{size / 2.0, size / 2.0 * 0.96};
    const std::string side = std::to_string(size);
    std::string svg;
    svg.reserve(256 + segments.size() * 256);
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + side + "\" height=\"" + side +
           "\" viewBox=\"0 0 " + side + " " + side + "\">\n";
    svg += "<rect width=\"" + side + "\" height=\"" + side + "\" " +
           fill(Theme::background(options.dark)) + "/>\n";
    for (const auto& s : segments) {
        if (s.depth < 1 || s.depth > geometry.maxDepth) continue;
        const std::string d =
            sectorPath(c, geometry.inner(s.depth), geometry.outer(s.depth), s.start, s.end);
        if (d.empty()) continue;
        std::string title = label ? label(s) : std::string();
        title += (title.empty() ? "" : " \xE2\x80\x94 ") + quenwick::formatBytes(s.bytes);
        svg += "<path d=\"" + d + "\" " + fill(Theme::color(s, options.dark)) + "><title>" +
               xmlText(title) + "</title></path>\n";
    }
    if (options.labels && label)
        for (const auto& s : segments)
            appendLabel(svg, c, geometry, s, label(s), options.dark);
    appendCenter(svg, c, geometry, options);
    svg += "</svg>\n";
    return svg;
}

}  // namespace ringkit
