#include "QuenwickCore/PathRules.h"

#include <cstdlib>
#include <memory>

namespace quenwick::PathRules {
namespace {

std::string_view withoutTrailingSlashes(std::string_view path) {
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

}  // namespace

bool isAtOrBelow(std::string_view path, std::string_view folder) {
    folder = withoutTrailingSlashes(folder);
    if (folder.empty() || path.empty()) return false;
    if (folder == "/") return path.front() == '/';
    if (!path.starts_with(folder)) return false;
    return path.size() == folder.size() || path[folder.size()] == '/';
}

std::string abbreviatingHome(std::string_view path, std::string_view home) {
    home = withoutTrailingSlashes(home);
    // A home of "/" would turn every path into "~...".
    if (home.size() <= 1 || !isAtOrBelow(path, home)) return std::string(path);
    return "~" + std::string(withoutTrailingSlashes(path.substr(home.size())));
}

bool isBelow(std::string_view path, std::string_view folder) {
    return isAtOrBelow(path, folder) &&
           withoutTrailingSlashes(path) != withoutTrailingSlashes(folder);
}

bool overlaps(std::string_view a, std::string_view b) {
    return isAtOrBelow(a, b) || isAtOrBelow(b, a);
}

std::string join(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (name.empty()) return out;
    if (out.empty() || out.back() != '/') out += '/';
    out += name;
    return out;
}

std::string_view parentOf(std::string_view path) {
    path = withoutTrailingSlashes(path);
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    if (slash == 0) return path.substr(0, 1);
    return withoutTrailingSlashes(path.substr(0, slash));
}

std::string_view lastComponent(std::string_view path) {
    path = withoutTrailingSlashes(path);
    if (path == "/") return path;
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> realPath(const std::string& path) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                               &std::free);
    if (!resolved) return std::nullopt;
    return std::string(resolved.get());
}

}  // namespace quenwick::PathRules
