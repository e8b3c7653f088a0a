#include "Shoreline/CreativeProjects.h"

#include <string_view>

#include "PathText.h"

namespace shoreline::CreativeProjects {
namespace {

using quenwick::FileTree;

const std::set<std::string, std::less<>>& mediaCacheExtensions() {
    static const std::set<std::string, std::less<>> set = {"aegraphic", "mogrt", "cfa",
                                                           "pek",       "ims",   "prv"};
    return set;
}

bool marksProject(std::string_view name) {
    return projectMarkers().contains(name) || detail::endsWith(name, ".PRV") ||
           projectExtensions().contains(detail::lowerExtension(name));
}

size_t componentsBelow(std::string_view path, std::string_view home) {
    if (home != "/" && !detail::isAtOrBelow(path, home)) return 0;
    std::string_view rest = path.substr(home == "/" ? 0 : home.size());
    size_t count = 0;
    bool inPiece = false;
    for (char c : rest) {
        if (c == '/') {
            inPiece = false;
        } else if (!inPiece) {
            inPiece = true;
            ++count;
        }
    }
    return count;
}

}  // namespace

const std::set<std::string, std::less<>>& projectExtensions() {
    static const std::set<std::string, std::less<>> set = {
        "prproj",     "aep",       "aepx",    "fcpbundle", "fcpproj", "fcpxml",     "logicx",
        "als",        "ptx",       "drp",     "dra",       "blend",   "imovieproj", "imoviemobile",
        "band",       "psd",       "ai",      "indd",      "sketch",  "kra",        "c4d",
        "aup3",       "flp",       "cpr",     "rpp",       "veg",     "motn",       "cmproj",
        "screenflow", "procreate", "afphoto", "afdesign"};
    return set;
}

const std::set<std::string, std::less<>>& projectMarkers() {
    static const std::set<std::string, std::less<>> set = {
        "Ableton Project Info", "Adobe Premiere Pro Auto-Save", "Adobe Premiere Pro Audio Previews",
        "Adobe Premiere Pro Video Previews"};
    return set;
}

bool contains(FileTree::Node node, const ShorelineContext& ctx) {
    const FileTree& tree = *ctx.tree;
    if (mediaCacheExtensions().contains(detail::lowerExtension(tree.nameBytes(node)))) return true;
    for (FileTree::Node f = tree.parent(node); f != FileTree::none; f = tree.parent(f)) {
        const std::string path = tree.path(f);
        if (path == ctx.home || path.size() <= ctx.home.size()) return false;
        const bool deepEnough = componentsBelow(path, ctx.home) >= 2;
        for (FileTree::Node c = tree.firstChild(f); c != FileTree::none; c = tree.nextSibling(c)) {
            if (marksProject(tree.nameBytes(c))) return true;
            if (!deepEnough || !tree.isDirectory(c)) continue;
            for (FileTree::Node g = tree.firstChild(c); g != FileTree::none;
                 g = tree.nextSibling(g)) {
                if (marksProject(tree.nameBytes(g))) return true;
            }
        }
    }
    return false;
}

}  // namespace shoreline::CreativeProjects
