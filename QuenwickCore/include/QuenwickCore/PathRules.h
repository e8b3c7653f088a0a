#pragma once

#include <optional>
#include <string>
#include <string_view>

// The path text rules every part of the core shares. Paths are exact bytes compared byte for byte
// and component by component; nothing here touches the disk except realPath. Each edge is decided
// once, here:
// - "/" as the folder holds every absolute path (and no relative one);
// - a trailing "/" on the folder is ignored ("/a/b/" is "/a/b");
// - a path equal to the folder is at it;
// - "/a/bc" is not below "/a/b";
// - an empty folder holds nothing, an empty path lies nowhere.
// Stateless and thread-safe.
namespace quenwick::PathRules {

// True when path is folder or lies below it.
[[nodiscard]] bool isAtOrBelow(std::string_view path, std::string_view folder);

// The path as the views show it: home written "~" at its start ("~" for home itself); other
// paths, and every path when home is "/" or empty, unchanged.
[[nodiscard]] std::string abbreviatingHome(std::string_view path, std::string_view home);

// True when path lies below folder, not at it.
[[nodiscard]] bool isBelow(std::string_view path, std::string_view folder);

// True when either of the two is at or below the other.
[[nodiscard]] bool overlaps(std::string_view a, std::string_view b);

// folder + "/" + name without doubling a slash folder already ends with; folder itself for an
// empty name.
[[nodiscard]] std::string join(std::string_view folder, std::string_view name);

// The folder holding path, trailing slashes ignored: "/a/b" -> "/a", "/a" -> "/", "/" -> "/";
// empty for a relative name without a slash. A view into path (or of a static "/").
[[nodiscard]] std::string_view parentOf(std::string_view path);

// The last component, trailing slashes ignored: "/a/b/" -> "b"; "/" for "/". A view into path.
[[nodiscard]] std::string_view lastComponent(std::string_view path);

// The canonical absolute path (links, "." and ".." resolved, as realpath(3)), or nothing when the
// path or one of its folders cannot be resolved.
[[nodiscard]] std::optional<std::string> realPath(const std::string& path);

}  // namespace quenwick::PathRules
