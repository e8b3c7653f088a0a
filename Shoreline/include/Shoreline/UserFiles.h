#pragma once

#include <cstdint>
#include <vector>

#include "Shoreline/ShorelineContext.h"

// The walk over the user's own files: regular files of at least minBytes below the home folder,
// outside its Library, hidden folders, packages, dependency folders and the app folders in
// ~/snap. Folders smaller than the limit are not entered, so a walk for large files touches few
// folders. Reads the tree only; any thread.
namespace shoreline::UserFiles {

[[nodiscard]] std::vector<quenwick::FileTree::Node> walk(const ShorelineContext& ctx,
                                                         uint64_t minBytes);

// The node of ~/snap, or none. snapd keeps each app's data in ~/snap/<app>/<revision>: a folder
// whose parent is this node is app data and never entered as the user's own.
[[nodiscard]] quenwick::FileTree::Node snapFolder(const ShorelineContext& ctx);

}  // namespace shoreline::UserFiles
