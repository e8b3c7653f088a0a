#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

// The recursive deletion behind the eraser. Works only through descriptors (openat/unlinkat with
// O_NOFOLLOW): a symbolic link is removed as itself and never followed, a folder replaced by a link
// while the deletion runs is removed as the link, and nothing on another mount (another file
// system, or a bind mount) is entered. Folders the user owns but cannot write or list are made
// writable before their contents are removed. Failures are skipped: whatever cannot be removed
// stays where it is.
namespace quenwick::detail {

// Removes name inside the folder open as parentFd, with everything below it, on up to `threads`
// threads. Stops early (leaving the rest in place) when cancel becomes true. Returns true when
// nothing is left at name.
bool removeTreeAt(int parentFd, const std::string& name, int threads,
                  const std::atomic<bool>* cancel = nullptr);

// The names in the folder open as dirFd ("." and ".." left out), in no particular order.
[[nodiscard]] std::vector<std::string> namesInFolder(int dirFd);

// What is left at name inside parentFd: every entry counted once (the item itself included), a
// folder that cannot be listed or that is another mount counted as one and not entered, and the
// paths (relative to parentFd, name first) of the first maxPaths entries that have nothing left
// below them, the ones that stopped the deletion.
struct TreeRemains {
    size_t entries = 0;
    std::vector<std::string> firstPaths;
};
[[nodiscard]] TreeRemains surveyRemains(int parentFd, const std::string& name, size_t maxPaths);

}  // namespace quenwick::detail
