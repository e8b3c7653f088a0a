#pragma once

#include <atomic>
#include <string>

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

}  // namespace quenwick::detail
