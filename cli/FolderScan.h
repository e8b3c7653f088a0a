#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "QuenwickCore/FileTree.h"
#include "QuenwickCore/ScanOptions.h"
#include "QuenwickCore/Snapshot.h"

// The scan and the snapshot load that several verbs start from, with the checks and the one-line
// failures they share. A failure has been reported on standard error when an int (the exit
// status) comes back.
namespace brimvale::cli {

struct FolderScan {
    std::string root;  // absolute
    bool quiet = false;
    std::optional<quenwick::ScanOptions> options;  // default: the options for root's volume
    int workers = 0;                               // default: one per core
    int64_t expectedCount = 0;
};

// Scans a folder with progress on a terminal. A path that is missing, not a folder or cannot be
// read fails with one line.
[[nodiscard]] std::variant<std::shared_ptr<quenwick::FileTree>, int> scanFolder(
    const FolderScan& request);

// As scanFolder, with the record a snapshot of the scan keeps (taken before the scan starts).
[[nodiscard]] std::variant<quenwick::LoadedSnapshot, int> scanFolderForSnapshot(
    const FolderScan& request);

// scanFolder with the root's volume options; workers 0 means one per core.
[[nodiscard]] std::variant<std::shared_ptr<quenwick::FileTree>, int> scanFolder(
    const std::string& root, bool quiet, int workers);

// "cannot read ROOT: REASON", for a tree whose root could not be listed.
[[nodiscard]] std::string unreadableRootMessage(const std::string& root);

// Loads a snapshot file with up to `threads` decoding threads, or an export in ncdu's format
// (told apart by its first bytes), or fails with one line.
[[nodiscard]] std::variant<quenwick::LoadedSnapshot, int> loadSnapshotFile(const std::string& file,
                                                                           unsigned threads = 2);

// Writes the snapshot file / the export a person asked for (the argument is made absolute); its
// folder must exist. kExitOk, or a failure reported in one line.
[[nodiscard]] int saveSnapshotFile(const quenwick::LoadedSnapshot& snapshot,
                                   const std::string& argument);
[[nodiscard]] int saveExportFile(const quenwick::LoadedSnapshot& snapshot,
                                 const std::string& argument);

// "the folder F does not exist" when the folder file would go into is missing.
[[nodiscard]] std::optional<std::string> missingFolder(const std::string& file);

}  // namespace brimvale::cli
