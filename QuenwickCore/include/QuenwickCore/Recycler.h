#pragma once

#include <optional>
#include <string>
#include <vector>

#include "QuenwickCore/GuardVerdict.h"
#include "QuenwickCore/RemovalError.h"

// Recycler moves items the deletion guard allowed into the user's Trash, the way the desktop's
// file managers do (the freedesktop.org Trash: $XDG_DATA_HOME/Trash for the home file system,
// $topdir/.Trash/$uid or $topdir/.Trash-$uid on other file systems, with a .trashinfo record), so
// that they can be restored from there. Each item is checked by its guard again just before it is
// moved, and the move is a single rename: an item that cannot be renamed into a Trash on its own
// file system is reported as a failure and never deleted instead. Symbolic links are moved as
// themselves. File names are handled as exact bytes.
//
// No state; recycle() may be called from any thread (calls for the same Trash may overlap: each
// item claims its name in the Trash atomically).
namespace quenwick {

struct RecycleOutcome {
    std::string original;                // the removal's path
    std::optional<std::string> trashed;  // where the item now lies, on success
    std::optional<RemovalError> error;   // why it was not moved; absent on success
};

class Recycler {
public:
    Recycler() = delete;

    // One outcome per removal, in input order; a path given twice shares the first one's outcome,
    // and a folder given with something inside it is moved after that inner item.
    [[nodiscard]] static std::vector<RecycleOutcome> recycle(
        const std::vector<GuardedRemoval>& removals);
};

}  // namespace quenwick
