#include "RingKit/RingSvg.h"

#include <expat.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <numbers>
#include <set>
#include <sstream>

#include "QuenwickCore/ByteFormat.h"
#include "RandomTrees.h"
#include "RingKit/RingLabel.h"
#include "RingKit/RingLayout.h"
#include "RingKit/Theme.h"

namespace ringkit {
namespace {

using quenwick::FileTree;
using Kind = RingSegment::Kind;

constexpr double kPi = std::numbers::pi;

struct Element {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::string title;  // the text of a <title> child
};

// The picture as a real XML parser sees it; `error` is set when it is not well-formed.
struct Parsed {
    std::vector<Element> elements;
    std::string error;
};

Parsed parse(const std::string& svg) {
    Parsed out;
    struct State {
        Parsed* out;
        std::vector<size_t> open;
        bool inTitle = false;
    } state{&out, {}};
    XML_Parser parser = XML_ParserCreate("UTF-8");
    XML_SetUserData(parser, &state);
    XML_SetElementHandler(
        parser,
        [](void* data, const XML_Char* name, const XML_Char** attrs) {
            auto& s = *static_cast<State*>(data);
            if (std::string(name) == "title") {
                s.inTitle = true;
                return;
            }
            Element e{name, {}, {}};
            for (int i = 0; attrs[i] != nullptr; i += 2)
                e.attributes[attrs[i]] = attrs[i + 1];
            s.open.push_back(s.out->elements.size());
            s.out->elements.push_back(std::move(e));
        },
        [](void* data, const XML_Char* name) {
            auto& s = *static_cast<State*>(data);
            if (std::string(name) == "title") {
                s.inTitle = false;
            } else {
                s.open.pop_back();
            }
        });
    XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* text, int length) {
        auto& s = *static_cast<State*>(data);
        if (s.inTitle && !s.open.empty())
            s.out->elements[s.open.back()].title.append(text, static_cast<size_t>(length));
    });
    if (XML_Parse(parser, svg.data(), static_cast<int>(svg.size()), 1) == XML_STATUS_ERROR) {
        out.error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
                    std::to_string(XML_GetCurrentLineNumber(parser));
    }
    XML_ParserFree(parser);
    return out;
}

std::vector<const Element*> named(const Parsed& p, const std::string& name) {
    std::vector<const Element*> out;
    for (const auto& e : p.elements)
        if (e.name == name) out.push_back(&e);
    return out;
}

std::string hex(const Rgba& c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", static_cast<int>(std::lround(c.r * 255)),
                  static_cast<int>(std::lround(c.g * 255)),
                  static_cast<int>(std::lround(c.b * 255)));
    return buf;
}

// The end points of a path's commands (M, L and A), in pixels.
std::vector<std::pair<double, double>> pathPoints(const std::string& d) {
    std::istringstream in(d);
    std::vector<std::pair<double, double>> out;
    std::string command;
    while (in >> command) {
        double x, y;
        if (command == "A") {
            double rx, ry, rotation, large, sweep;
            in >> rx >> ry >> rotation >> large >> sweep;
        } else if (command == "Z") {
            continue;
        }
        in >> x >> y;
        out.emplace_back(x, y);
    }
    return out;
}

FileTree sampleTree() {
    FileTree tree("/home/ann");
    const auto docs = testing::addDir(tree, 0, "Docs & <Drafts> \"1\"");
    testing::addFile(tree, docs,
                     "bell\x07"
                     "and\xff"
                     "bad\xEF\xBF\xBF",
                     5000);
    testing::addFile(tree, docs, "line\nbreak", 3000);
    for (int i = 0; i < 300; ++i)
        testing::addFile(tree, 0, "crumb" + std::to_string(i), 1);
    testing::addFile(tree, 0, "movie.mkv", 9000);
    tree.propagateSizes();
    return tree;
}

RingSvg::Label labelsOf(const FileTree& tree) {
    return [&tree](const RingSegment& s) { return ringLabel(tree, s.kind, "Home"); };
}

TEST(RingSvg, PictureIsWellFormedWithATitledSectorPerArc) {
    const FileTree tree = sampleTree();
    const std::vector<RingLayout::Extra> extras = {{Kind::hidden(), 4000},
                                                   {Kind::purgeable(), 1000}};
    const auto segments = RingLayout::layout(tree, 0, 5, RingLayout::defaultMinAngle, extras);
    ASSERT_EQ(segments.size(), 7u);
    for (bool dark : {false, true}) {
        const std::string svg =
            RingSvg::render(segments, RingGeometry{}, labelsOf(tree), {512, dark, 0.5, "Home"});
        const Parsed p = parse(svg);
        ASSERT_EQ(p.error, "") << svg;
        ASSERT_EQ(p.elements.front().name, "svg");
        EXPECT_EQ(p.elements.front().attributes.at("width"), "512");
        EXPECT_EQ(named(p, "rect").at(0)->attributes.at("fill"), hex(Theme::background(dark)));
        const auto paths = named(p, "path");
        ASSERT_EQ(paths.size(), segments.size() + 1) << "one per arc and the fullness arc";
        for (size_t i = 0; i < segments.size(); ++i) {
            const auto& s = segments[i];
            EXPECT_EQ(paths[i]->attributes.at("fill"), hex(Theme::color(s, dark)));
            EXPECT_EQ(paths[i]->attributes.count("fill-opacity"), Theme::color(s, dark).a < 1);
            const std::string size = " \xE2\x80\x94 " + quenwick::formatBytes(s.bytes);
            const std::string& title = paths[i]->title;
            EXPECT_TRUE(title.size() > size.size() &&
                        title.compare(title.size() - size.size(), size.size(), size) == 0)
                << title;
        }
    }
    // Names that XML cannot carry as they are come through as text, never as markup.
    const Parsed p = parse(RingSvg::render(segments, RingGeometry{}, labelsOf(tree), {}));
    std::set<std::string> titles;
    for (const auto* e : named(p, "path"))
        titles.insert(e->title);
    for (const std::string expected :
         {"Docs & <Drafts> \"1\" \xE2\x80\x94 8.0 kB",
          "bell\xEF\xBF\xBD"
          "and\xEF\xBF\xBD"
          "bad\xEF\xBF\xBD \xE2\x80\x94 5.0 kB",
          "line\nbreak \xE2\x80\x94 3.0 kB", "300 smaller items \xE2\x80\x94 300 bytes",
          "Hidden & system space \xE2\x80\x94 4.0 kB"}) {
        EXPECT_EQ(titles.count(expected), 1u) << expected;
    }
}

TEST(RingSvg, SectorsLieOnTheirRingBetweenTheirAngles) {
    const FileTree tree = sampleTree();
    const auto segments = RingLayout::layout(tree, 0);
    const RingGeometry g;
    const int size = 400;
    const double unitPx = size / 2.0 * 0.96, centre = size / 2.0;
    const Parsed p = parse(RingSvg::render(segments, g, nullptr, {size, false, 0, ""}));
    ASSERT_EQ(p.error, "");
    const auto paths = named(p, "path");
    ASSERT_EQ(paths.size(), segments.size());
    for (size_t i = 0; i < segments.size(); ++i) {
        const auto& s = segments[i];
        const double ri = g.inner(s.depth) * unitPx + 0.8, ro = g.outer(s.depth) * unitPx - 0.8;
        const auto points = pathPoints(paths[i]->attributes.at("d"));
        ASSERT_EQ(points.size(), 6u) << "outer edge in two halves, inner edge in two halves";
        for (const auto& [x, y] : points) {
            const double r = std::hypot(x - centre, y - centre);
            EXPECT_TRUE(std::abs(r - ri) < 0.01 || std::abs(r - ro) < 0.01) << "radius " << r;
            // y grows downward in the picture, upward in ring units.
            const double a = RingLayout::angle(x - centre, centre - y);
            const double slack = 0.01 / ri;
            const bool inside = a >= s.start - slack && a <= s.end + slack;
            const bool wrapsToTop = s.end > 2 * kPi - slack && a < slack;
            EXPECT_TRUE(inside || wrapsToTop) << "segment " << i << " angle " << a;
        }
        EXPECT_TRUE(paths[i]->title.find(quenwick::formatBytes(s.bytes)) != std::string::npos);
    }
}

TEST(RingSvg, FullnessShowsArcAndDotOnlyFromAThousandth) {
    const auto render = [](double fullness) {
        return parse(RingSvg::render({}, RingGeometry{}, nullptr, {256, false, fullness, ""}));
    };
    for (double none : {0.0, 0.0009, -3.0, std::numeric_limits<double>::quiet_NaN()}) {
        const Parsed p = render(none);
        ASSERT_EQ(p.error, "");
        EXPECT_TRUE(named(p, "path").empty()) << none;
        EXPECT_EQ(named(p, "circle").size(), 2u) << "disc and track only, at " << none;
    }
    for (double some : {0.001, 0.5, 1.0, 7.0}) {
        const Parsed p = render(some);
        ASSERT_EQ(p.error, "");
        ASSERT_EQ(named(p, "path").size(), 1u) << some;
        EXPECT_EQ(named(p, "path")[0]->attributes.at("stroke"), hex(Theme::arc(false)));
        EXPECT_EQ(named(p, "circle").size(), 3u) << "the dot at the top, at " << some;
    }
    // A full disk closes the circle: the arc ends where it began, at the top.
    const auto points = pathPoints(named(render(1.0), "path")[0]->attributes.at("d"));
    ASSERT_EQ(points.size(), 3u);
    EXPECT_NEAR(points.front().first, points.back().first, 0.01);
    EXPECT_NEAR(points.front().second, points.back().second, 0.01);
}

TEST(RingSvg, ArcsWithoutWidthOrOffTheRingsAreLeftOut) {
    const std::vector<RingSegment> segments = {
        {Kind::node(1), 1, 1, 1, 0, 0},
        {Kind::node(2), 0, 0, 1, 5, 0},
        {Kind::node(3), 6, 0, 1, 5, 0},
        {Kind::node(4), 2, 0, std::numeric_limits<double>::quiet_NaN(), 5, 0},
        {Kind::node(5), 5, 0, 2 * kPi, 5, 0},
    };
    const Parsed p = parse(RingSvg::render(segments, RingGeometry{}, nullptr, {1, true, 0, ""}));
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(named(p, "path").size(), 1u);
    EXPECT_EQ(p.elements.front().attributes.at("width"), "16") << "tiny sizes are raised";
}

}  // namespace
}  // namespace ringkit

namespace ringkit {
namespace {

TEST(RingSvg, LabelsOnlyOnArcsOfTheFirstTwoRingsThatHaveRoom) {
    const FileTree tree = sampleTree();
    const auto segments = RingLayout::layout(tree, 0);
    RingSvg::Options options{800, false, 0.5, "Home"};
    EXPECT_TRUE(
        named(parse(RingSvg::render(segments, RingGeometry{}, labelsOf(tree), options)), "text")
            .empty())
        << "labels only when asked for";
    options.labels = true;
    const Parsed p = parse(RingSvg::render(segments, RingGeometry{}, labelsOf(tree), options));
    ASSERT_EQ(p.error, "");
    const auto texts = named(p, "text");
    // The film, the documents folder and its two files have room; the 300 crumbs' narrow arc
    // has not.
    ASSERT_EQ(texts.size(), 4u);
    const double unit = 400 * 0.96;
    for (const auto* t : texts) {
        double x = 0, y = 0;
        ASSERT_EQ(std::sscanf(t->attributes.at("transform").c_str(), "translate(%lf %lf)", &x, &y),
                  2);
        const double r = std::hypot(x - 400, y - 400) / unit;
        EXPECT_GT(r, 0.3);
        EXPECT_LT(r, 0.572) << "inside the first two rings";
    }
}

}  // namespace
}  // namespace ringkit
