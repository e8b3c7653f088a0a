#pragma once

#include <set>
#include <string>

#include "Shoreline/ShorelineContext.h"

// Whether a file may be media that a creative application's project refers to by path: a media
// cache file, or a file below a folder (up to the home folder) that holds a project file or
// marker, directly or, two or more levels below home, in a subfolder. Reads the tree only; any
// thread.
namespace shoreline::CreativeProjects {

// Project file extensions, lower case.
[[nodiscard]] const std::set<std::string, std::less<>>& projectExtensions();
// Exact names of folders and files that creative applications leave beside their media.
[[nodiscard]] const std::set<std::string, std::less<>>& projectMarkers();

[[nodiscard]] bool contains(quenwick::FileTree::Node node, const ShorelineContext& ctx);

}  // namespace shoreline::CreativeProjects
