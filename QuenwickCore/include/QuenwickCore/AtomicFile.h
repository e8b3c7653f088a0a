#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <system_error>

// Writing a whole file so that readers see either the old contents or the new, never a mix:
// the data goes to a hidden temporary file in the same folder (its name does not end in the
// target's extension, so a crash leaves nothing that looks like a finished file), is flushed to
// the disk, and is renamed over the target. Thread-safe; concurrent writers of one target leave
// one of their versions.
namespace quenwick {

// What this program keeps about the user's files (snapshots, history, ledger, journal) is for
// the user alone; an export the user asked for is an ordinary file.
constexpr mode_t kPrivateFileMode = 0600;
constexpr mode_t kOrdinaryFileMode = 0644;

// Writes data to path atomically. A new file gets newFileMode (before the umask); a file that is
// replaced keeps its permission bits. When path is a symbolic link (or a chain of them), the file
// it leads to is replaced (created when the link dangles) and the link stays a link. Returns the
// file system's error, or an empty error_code on success; on failure the target is untouched and
// the temporary file is removed.
[[nodiscard]] std::error_code writeFileAtomically(const std::string& path, std::string_view data,
                                                  mode_t newFileMode = kPrivateFileMode);

// Creates folder and whichever of its parents are missing, each new one 0700 (before the umask);
// folders that exist are left as they are. Empty error_code on success.
[[nodiscard]] std::error_code createPrivateFolders(const std::string& folder);

// Moves a damaged file aside, to "<path>.damaged" or, when that is taken, the first free of
// "<path>.damaged-2", "-3", ..., never replacing an earlier copy. Returns the new name, or nothing
// when the file could not be moved (it is then left as it is).
[[nodiscard]] std::optional<std::string> setAsideDamaged(const std::string& path);

}  // namespace quenwick
