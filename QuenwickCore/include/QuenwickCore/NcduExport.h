#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "QuenwickCore/FileTree.h"
#include "QuenwickCore/Snapshot.h"

// A tree in the JSON export format of ncdu (version 1.2), which ncdu and gdu both read and
// write: [1, 2, {metadata}, [{root}, {file}, [{folder}, ...], ...]]. A folder is an array whose
// first element describes it; the root's "name" is its absolute path.
//
// What is written: "asize" and "dsize" are both the allocated size (the apparent size is not
// kept); a folder's own blocks are not counted, as in a scan; hard-linked files carry "ino",
// "hlnkc" and "nlink" and each the full size (readers count one inode once); unreadable items
// carry "read_error", other file systems' mount points "excluded": "otherfs", symbolic links
// "notreg" and a link's "mode". Names are written as their bytes, as ncdu writes them: a name
// that is not UTF-8 stays the same bytes, only '"', '\' and control characters are escaped.
//
// What is read: exports by ncdu, gdu or this program. A folder's own "dsize" is not counted
// (the tree's rule); a hard-linked inode ("hlnkc", by "dev" and "ino") counts once; items
// "excluded" by a pattern are left out, other excluded ones become unentered mount points. Each
// failure is one line: truncated or malformed text, a major version other than 1, folders nested
// deeper than kMaxDepth, a name that is empty, holds a "/" or a NUL, or is longer than a name can
// be, or a size or a total above 2^63 - 1. Stateless; any thread.
namespace quenwick::NcduExport {

inline constexpr size_t kMaxDepth = 4096;

// The export of tree's live nodes; `timestamp` in seconds since 1970.
[[nodiscard]] std::string encode(const FileTree& tree, int64_t timestamp);

// The tree in text, with its metadata's timestamp as scannedAt (fsEventID 0), or why not.
[[nodiscard]] std::variant<LoadedSnapshot, std::string> decode(std::string_view text);

// True when data starts like an export (after blanks, a "[") rather than a snapshot.
[[nodiscard]] bool looksLikeExport(std::string_view head);

// Writes encode(tree) to path atomically as an ordinary file (0644 before the umask). The
// folder must exist. Returns the file system's error text, or an empty string.
[[nodiscard]] std::string save(const FileTree& tree, int64_t timestamp, const std::string& path);

// Reads and decodes the file at path (a regular file of at most 16 GiB), or why not.
[[nodiscard]] std::variant<LoadedSnapshot, std::string> load(const std::string& path);

}  // namespace quenwick::NcduExport
