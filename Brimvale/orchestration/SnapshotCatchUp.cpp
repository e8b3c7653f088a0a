#include "orchestration/SnapshotCatchUp.h"

#include "QuenwickCore/SnapshotRefresh.h"

namespace brimvale {

CatchUp CatchUp::run(const std::string& root, const std::string& snapshotFile, int workers,
                     quenwick::ScanControl& control) {
    quenwick::RefreshOptions options;
    options.journalTimeout = journalTimeout;
    options.workers = workers;
    options.expectedRoot = root;
    options.fullScanAllowed = false;  // the app shows a full scan as it goes, not behind a load
    options.control = &control;
    options.keepUnsaved = true;  // the tree is still good to show
    auto refreshed = quenwick::SnapshotRefresh(options).run(snapshotFile);
    if (auto* error = std::get_if<quenwick::RefreshError>(&refreshed)) {
        const bool cancelled = error->kind == quenwick::RefreshError::Kind::cancelled;
        return CatchUp{cancelled ? Outcome::cancelled : Outcome::needsFullScan, nullptr};
    }
    auto& result = std::get<quenwick::RefreshResult>(refreshed);
    return CatchUp{result.changed.empty() ? Outcome::unchanged : Outcome::caughtUp,
                   std::move(result.tree)};
}

}  // namespace brimvale
