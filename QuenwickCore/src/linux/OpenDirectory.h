#pragma once

#include <string_view>

// Opening a directory found during a scan without ever following a symbolic link on the way: a
// folder replaced by a link between listing and opening must not lead the scan elsewhere.
namespace quenwick::detail {

// Opens `relative` (a path below the directory open as baseFd, "." for the base itself)
// read-only as a directory, never above the base (EXDEV). Paths longer than the kernel's limit
// are walked component by component, and there any ".." is refused. Returns the descriptor, or
// -1 with errno set.
[[nodiscard]] int openDirectoryBeneath(int baseFd, std::string_view relative);

// The 32-bit device encoding of an open descriptor, or nothing-like false on failure.
[[nodiscard]] bool deviceOf(int fd, int& device);

}  // namespace quenwick::detail
