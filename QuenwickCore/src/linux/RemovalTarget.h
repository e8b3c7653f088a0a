#pragma once

#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "QuenwickCore/GuardVerdict.h"
#include "QuenwickCore/RemovalError.h"
#include "QuenwickCore/UniqueFd.h"

// What the Trash mover and the eraser share: the moment just before a removal touches the disk.
namespace quenwick::detail {

// The item of a removal, bound to the folder that holds it. The guard was asked again for the path
// and for the folder's real place as the open descriptor sees it, so a folder swapped for a link
// after the check cannot redirect what happens next: every later call works relative to `parent`.
struct PinnedItem {
    std::shared_ptr<UniqueFd> parent;
    std::string name;        // the item's name in parent (exact bytes)
    std::string realParent;  // the real path of parent
    struct stat status {};   // the item itself, links not followed
};

[[nodiscard]] std::variant<PinnedItem, RemovalError> pinForRemoval(const GuardedRemoval& removal);

// The real path of an open descriptor, or empty when the kernel cannot tell.
[[nodiscard]] std::string pathOfDescriptor(int fd);

// True when name inside dirFd is a directory at the root of a mount other than dirFd's.
[[nodiscard]] bool isMountRootAt(int dirFd, const std::string& name);

// The first mount point strictly below folder (a real path), as the mount table lists it.
[[nodiscard]] std::optional<std::string> mountBelow(const std::string& folder);

// The order to work through a request in: deeper paths before the folders holding them (so a
// child and its parent in one request both succeed), each path once. order lists the indices
// of first occurrences; firstOf[i] is the index whose outcome a repeated path shares.
struct RemovalOrder {
    std::vector<size_t> order;
    std::vector<size_t> firstOf;
};
[[nodiscard]] RemovalOrder removalOrder(const std::vector<GuardedRemoval>& removals);

}  // namespace quenwick::detail
