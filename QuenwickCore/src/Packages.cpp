#include "QuenwickCore/Packages.h"

#include <algorithm>
#include <array>
#include <string>

namespace quenwick::Packages {
namespace {

constexpr std::array<std::string_view, 27> kExtensions = {
    "app",          "bundle",        "framework",    "plugin",    "appex",         "kext",
    "xpc",          "photoslibrary", "musiclibrary", "tvlibrary", "imovielibrary", "fcpbundle",
    "logicx",       "band",          "xcarchive",    "xcodeproj", "xcworkspace",   "playground",
    "rtfd",         "pages",         "numbers",      "key",       "photolibrary",  "aplibrary",
    "sparsebundle", "pkg",           "mpkg"};

}  // namespace

bool isPackageName(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    const auto ext = name.substr(dot + 1);
    if (ext.empty() || ext.size() > 13) return false;
    std::string lower(ext);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
    return std::find(kExtensions.begin(), kExtensions.end(), lower) != kExtensions.end();
}

}  // namespace quenwick::Packages
