#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// What a scan may enter, and what it reports while it runs. Plain values.
namespace quenwick {

struct ScanOptions {
    // When present, only directories on these devices (32-bit encoding) are entered; when
    // absent, the device of the scan root becomes the only allowed one.
    std::optional<std::set<int32_t>> allowedDevices;
    // Absolute paths (exact bytes) left out of the tree entirely.
    std::set<std::string> excludedPaths;
    // Shell patterns (fnmatch, no flags: "*" also matches a leading dot, a backslash escapes)
    // matched against each entry's name; an entry whose name matches any of them is left out.
    std::vector<std::string> excludedNames;

    // True when an entry named `name` is left out by excludedNames.
    [[nodiscard]] bool excludesName(std::string_view name) const;

    // The options for scanning `path`: for "/" the devices of "/" (and of "/System/Volumes/Data"
    // where that exists) with the latter excluded; for anything else the defaults.
    [[nodiscard]] static ScanOptions forVolume(const std::string& path);
};

struct ScanProgress {
    int64_t files = 0;   // non-directory entries recorded so far (plus unenterable directories)
    uint64_t bytes = 0;  // sum of their sizes
    std::chrono::steady_clock::duration elapsed{};
};

}  // namespace quenwick
