#pragma once

#include <string>
#include <string_view>

#include "QuenwickCore/PathRules.h"

// Path and name helpers the rules share. Paths are exact bytes; comparisons are exact.
namespace shoreline::detail {

inline bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

inline bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

using quenwick::PathRules::isAtOrBelow;
using quenwick::PathRules::join;

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
