#pragma once

#include <string_view>

// Whether path lies inside folder: folder followed by "/" begins it (so "/a/bc" is not inside
// "/a/b"). Exact bytes, case-sensitive. Pure.
namespace brimvale {

[[nodiscard]] inline bool liesInside(std::string_view path, std::string_view folder) {
    return path.size() > folder.size() + 1 && path.substr(0, folder.size()) == folder &&
           path[folder.size()] == '/';
}

}  // namespace brimvale
