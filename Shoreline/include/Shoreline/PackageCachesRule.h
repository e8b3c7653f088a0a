#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Shoreline/Rule.h"

// Package-manager and toolchain caches at fixed places (below home, $XDG_CACHE_HOME or
// $XDG_DATA_HOME), each proposed when it holds at least 10 MiB: download caches and build caches
// as safe, slow-to-refetch caches and downloaded models as review. Stateless; any thread.
namespace shoreline {

class PackageCachesRule : public Rule {
public:
    enum class Kind { download, build, slow };
    struct Entry {
        std::string path;  // absolute
        std::string_view label;
        Kind kind;
    };

    PackageCachesRule()
        : Rule("packages", "Package manager caches", "archivebox",
               "Downloaded copies of libraries. Package managers fetch them again when needed.") {}

    [[nodiscard]] std::vector<Candidate> candidates(const ShorelineContext& ctx) const override;

    // Every place the rule looks at, resolved for ctx, in proposal order (download caches, build
    // caches, then slow ones, each in table order). A place may appear twice when two spellings
    // meet ($XDG_CACHE_HOME is ~/.cache).
    [[nodiscard]] static std::vector<Entry> entries(const ShorelineContext& ctx);
};

}  // namespace shoreline
