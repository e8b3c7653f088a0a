#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/ScanControl.h"
#include "QuenwickCore/Snapshot.h"

// Brings a snapshot file up to date and saves it: loads it, takes the change journal's position
// (before the journal is read, so what changes from then on is caught up next time), asks the
// journal which folders changed since the snapshot's position, rescans those and the folders that
// have become readable, or scans the root in full when the journal cannot say, and saves the
// result atomically with the new position and time.
//
// The refresh works on a tree of its own, the one it loaded from the file: a tree someone else
// holds (the one a window shows) is never touched. The caller swaps in the result when it comes.
// A refresh that fails or is cancelled leaves the file as it was.
//
// run() blocks its caller (disk and journal work; keep it off a GUI thread) and may run once at a
// time per object; cancel() may be called from any thread, before or during run().
namespace quenwick {

struct RefreshOptions {
    unsigned threads = 2;          // for decoding and encoding the snapshot
    double journalTimeout = 20.0;  // seconds to wait for the recorder before scanning in full
    int workers = DiskScanner::defaultWorkers();
    std::chrono::milliseconds progressInterval{100};  // of the scanner
    // A snapshot of another root is refused (otherRoot) instead of refreshed.
    std::optional<std::string> expectedRoot;
    // When the journal cannot say, stop (needsFullScan) instead of scanning the root in full.
    bool fullScanAllowed = true;
    // Counts the rescan's progress and carries a cancel (checked as cancel() is); not owned.
    ScanControl* control = nullptr;
    // A tree that could not be saved is still returned (with saveError) instead of cannotSave.
    bool keepUnsaved = false;
};

struct RefreshResult {
    std::shared_ptr<FileTree> tree;    // the refreshed tree, as saved; the caller's
    SnapshotMeta before;               // the record the file held
    SnapshotMeta meta;                 // the record saved with the tree
    bool fullRescan = false;           // the journal could not say what changed
    std::vector<std::string> changed;  // the folders looked at again (empty after a full scan)
    uint64_t foldersLookedAt = 0;      // changed.size(), or every folder after a full scan
    uint64_t bytesBefore = 0;          // the root's size in the file
    std::optional<SnapshotFileError> saveError;  // only with RefreshOptions::keepUnsaved
    std::chrono::milliseconds loadTime{0}, catchUpTime{0}, saveTime{0};
};

struct RefreshError {
    enum class Kind {
        cannotLoad,      // the file could not be read or is damaged (load set)
        unreadableRoot,  // the root cannot be listed any more (errnum set)
        cannotSave,      // the refreshed tree could not be written (save set)
        cancelled,
        otherRoot,      // the snapshot is of another root than RefreshOptions::expectedRoot
        needsFullScan,  // the journal cannot say and RefreshOptions::fullScanAllowed is false
    };
    Kind kind = Kind::cannotLoad;
    std::string file;
    std::string root;  // for unreadableRoot
    int errnum = 0;
    std::optional<SnapshotFileError> fileError;  // for cannotLoad and cannotSave

    // One line, e.g. "cannot load /x.qws: not a snapshot file".
    [[nodiscard]] std::string describe() const;
};

// Why root cannot be listed, as opening it says now (EIO when it opens after all).
[[nodiscard]] int whyUnreadable(const std::string& root);
// "cannot read ROOT: <the error's text>".
[[nodiscard]] std::string unreadableRootText(const std::string& root, int errnum);

class SnapshotRefresh {
public:
    explicit SnapshotRefresh(RefreshOptions options = {});
    SnapshotRefresh(const SnapshotRefresh&) = delete;
    SnapshotRefresh& operator=(const SnapshotRefresh&) = delete;

    // Refreshes the snapshot at file (an absolute path).
    [[nodiscard]] std::variant<RefreshResult, RefreshError> run(const std::string& file);

    // Stops a running refresh (or the next one, when none runs yet) without saving.
    void cancel();

private:
    bool cancelled() const;
    std::variant<RefreshResult, RefreshError> refresh(const std::string& file);

    const RefreshOptions options_;
    mutable std::mutex mutex_;
    bool cancelled_ = false;
    DiskScanner* scanner_ = nullptr;  // the running refresh's scanner, under mutex_
};

}  // namespace quenwick
