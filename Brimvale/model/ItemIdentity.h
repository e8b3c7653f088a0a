#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Which item a path named at one moment: device and inode, and for anything but a folder also its
// size and modification time (a folder's own time changes whenever its contents do). Read with
// lstat, so a link is itself, never its target. A plain value, any thread.
namespace brimvale {

struct ItemIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool isDirectory = false;
    int64_t size = 0;
    int64_t mtimeSeconds = 0;
    int64_t mtimeNanoseconds = 0;
    uint64_t allocatedBytes = 0;  // blocks × 512: what removing it frees (its own, for a folder)

    // The identity of what lies at path now, or nothing when nothing is there.
    [[nodiscard]] static std::optional<ItemIdentity> of(const std::string& path);

    // Whether two readings name the same item in the same state (allocatedBytes aside).
    [[nodiscard]] bool sameItem(const ItemIdentity& other) const;
};

}  // namespace brimvale
