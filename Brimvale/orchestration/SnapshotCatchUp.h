#pragma once

#include <memory>
#include <string>

#include "QuenwickCore/FileTree.h"
#include "QuenwickCore/ScanControl.h"

// Bringing a saved snapshot up to date (the core's SnapshotRefresh, as the app needs it): the
// snapshot is read and decoded, the change journal says which folders changed since its position,
// those folders (and those that became readable since) are read again, and the tree is saved again
// with the journal position taken before the catch-up, so that changes made during it are seen next
// time. Whatever leaves the tree uncertain (no snapshot, a damaged or foreign one, a journal that
// cannot say) asks for a full scan instead.
//
// Blocking; for a worker thread. The returned tree belongs to the caller. A failure to save is
// ignored (the tree is still good to show).
namespace brimvale {

struct CatchUp {
    enum class Outcome {
        unchanged,      // the snapshot as it was: nothing changed since
        caughtUp,       // folders were read again
        needsFullScan,  // no usable snapshot or journal
        cancelled,      // stopped half-way: the tree is not to be shown or saved
    };
    Outcome outcome = Outcome::needsFullScan;
    std::shared_ptr<quenwick::FileTree> tree;

    // How long the journal may take to write out what it has seen.
    static constexpr double journalTimeout = 20.0;

    // workers: the scanner's threads for the folders read again.
    [[nodiscard]] static CatchUp run(const std::string& root, const std::string& snapshotFile,
                                     int workers, quenwick::ScanControl& control);
};

}  // namespace brimvale
