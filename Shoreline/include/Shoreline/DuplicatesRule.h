#pragma once

#include <string_view>

#include "Shoreline/Rule.h"

// Identical copies of the user's own large files (at least ctx.duplicateMinBytes). Files are
// narrowed by size, then by a SHA-256 of their first and last 64 KiB, then by a SHA-256 of their
// whole contents, read on one thread per processor; only files that agree on all three are
// duplicates. The best-placed copy is kept and every other one proposed for review, except copies
// in managed media libraries or creative projects, copies that share their extents with others
// (reflinks free nothing), and hard links to one inode (one file, not copies). A file that changed
// since the scan, or changes while it is read, takes no part. Reads never move access times.
// Stateless; candidates() may run on any thread and blocks while it reads.
namespace shoreline {

class DuplicatesRule : public Rule {
public:
    DuplicatesRule()
        : Rule("duplicates", "Duplicate files", "doc.on.doc",
               "Identical copies of the same large file. Brimvale keeps the copy in the most "
               "deliberate place.") {}

    [[nodiscard]] std::vector<Candidate> candidates(const ShorelineContext& ctx) const override;

    // True when path lies inside a media library that another application manages.
    [[nodiscard]] static bool inManagedLibrary(std::string_view path, const ShorelineContext& ctx);
};

}  // namespace shoreline
