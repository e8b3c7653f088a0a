#pragma once

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

// Writes data to path atomically with mode 0644 (before the umask). Returns the file system's
// error, or an empty error_code on success; on failure the target is untouched and the temporary
// file is removed.
[[nodiscard]] std::error_code writeFileAtomically(const std::string& path, std::string_view data);

// Moves a damaged file aside, to "<path>.damaged" or, when that is taken, the first free of
// "<path>.damaged-2", "-3", ..., never replacing an earlier copy. Returns the new name, or nothing
// when the file could not be moved (it is then left as it is).
[[nodiscard]] std::optional<std::string> setAsideDamaged(const std::string& path);

}  // namespace quenwick
