#pragma once

#include <string>

// A path as the user reads it: the home folder at its start shown as "~" ("~" for the home
// itself, "~/Movies" below it); any other path whole. A home of "/" (or empty) abbreviates
// nothing, since every path would start with it. Pure and thread-safe.
namespace quenwick {

[[nodiscard]] std::string abbreviatingHome(const std::string& path, std::string home);

}  // namespace quenwick
