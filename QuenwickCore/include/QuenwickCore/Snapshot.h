#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "QuenwickCore/FileTree.h"

// A scanned tree and the record of its scan, as one compact byte string: the magic "QWS1", the
// version 1 (UInt16, little-endian) and one LZFSE stream holding the root path, the scan time,
// the change-journal position and the tree's arrays, verbatim. What is written is always the
// compacted copy of the tree, so a snapshot never holds dead or unreachable nodes.
//
// Decoding trusts nothing: a damaged or hostile byte string gives a SnapshotError, never a crash,
// a hang or an allocation beyond a bound proportional to its size, and never a partial tree.
// Stateless; every function may be called from any thread.
namespace quenwick {

struct SnapshotMeta {
    std::string rootPath;  // exact bytes, as the tree's
    double scannedAt = 0;  // seconds since 1970
    uint64_t fsEventID = 0;
    bool operator==(const SnapshotMeta&) const = default;
};

struct SnapshotError {
    enum class Kind { unsupportedVersion, badMagic, truncated, decompressionFailed };
    Kind kind = Kind::truncated;
    uint16_t version = 0;  // the version found, for unsupportedVersion
    bool operator==(const SnapshotError&) const = default;

    [[nodiscard]] std::string describe() const;
};

// A failure to read or write a snapshot file: the file system's error, or a damaged snapshot.
struct SnapshotFileError {
    int errnum = 0;                       // set for file-system failures
    std::optional<SnapshotError> format;  // set for a damaged snapshot
    [[nodiscard]] std::string describe() const;
};

struct LoadedSnapshot {
    std::shared_ptr<FileTree> tree;
    SnapshotMeta meta;
};

namespace Snapshot {

inline constexpr char magic[4] = {'Q', 'W', 'S', '1'};
inline constexpr uint16_t version = 1;

// The bytes of a snapshot of tree. `threads` > 1 lets the compressor use that many threads.
[[nodiscard]] std::vector<uint8_t> encode(const FileTree& tree, const SnapshotMeta& meta,
                                          unsigned threads = 1);

// The tree and meta held by data, or the first check that failed.
[[nodiscard]] std::variant<LoadedSnapshot, SnapshotError> decode(std::span<const uint8_t> data,
                                                                 unsigned threads = 1);

// Whether a save may create the folder it writes into. Only the app's own snapshots folder is
// made on demand; a path a person names must have its folder already (a mistyped path must not
// leave folders behind, least of all as root).
enum class MissingFolder { fail, create };

// Writes a snapshot of tree to path atomically. On failure an existing file at path is left
// untouched; with MissingFolder::fail a missing parent folder fails with ENOENT.
[[nodiscard]] std::optional<SnapshotFileError> save(const FileTree& tree, const SnapshotMeta& meta,
                                                    const std::string& path, unsigned threads = 1,
                                                    MissingFolder missing = MissingFolder::fail);

// Reads the file at path into memory and decodes it.
[[nodiscard]] std::variant<LoadedSnapshot, SnapshotFileError> load(const std::string& path,
                                                                   unsigned threads = 1);

}  // namespace Snapshot
}  // namespace quenwick
