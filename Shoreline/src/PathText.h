#pragma once

#include <string>
#include <string_view>

// Path and name helpers the rules share. Paths are exact bytes; comparisons are exact.
namespace shoreline::detail {

inline bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

inline bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// folder + "/" + name, without doubling the slash of "/".
inline std::string join(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (out != "/") out += '/';
    out += name;
    return out;
}

// True when path is folder or lies below it.
inline bool isSameOrInside(std::string_view path, std::string_view folder) {
    if (folder == "/") return !path.empty() && path.front() == '/';
    return startsWith(path, folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

// The text after the last ".", lower-cased (ASCII); empty when there is no ".".
inline std::string lowerExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    std::string ext(name.substr(dot + 1));
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

}  // namespace shoreline::detail
