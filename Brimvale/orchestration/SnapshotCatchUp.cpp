#include "orchestration/SnapshotCatchUp.h"

#include <chrono>

#include "QuenwickCore/FSEventsHistory.h"
#include "QuenwickCore/Snapshot.h"
#include "QuenwickCore/TideSummary.h"

namespace brimvale {

CatchUp CatchUp::run(const std::string& root, const std::string& snapshotFile,
                     quenwick::DiskScanner& scanner, quenwick::ScanControl& control) {
    CatchUp result;
    auto loaded = quenwick::Snapshot::load(snapshotFile);
    auto* snapshot = std::get_if<quenwick::LoadedSnapshot>(&loaded);
    if (snapshot == nullptr || !snapshot->tree || snapshot->meta.rootPath != root ||
        snapshot->tree->rootPath() != root)
        return result;
    if (control.cancelRequested()) return CatchUp{Outcome::cancelled, nullptr};

    const uint64_t position = quenwick::FSEventsHistory::currentEventID();
    const auto changes = quenwick::FSEventsHistory::changedDirectories(
        root, snapshot->meta.fsEventID, journalTimeout);
    if (changes.needsFullRescan()) return result;

    std::vector<std::string> directories = changes.paths();
    for (auto& path : quenwick::DiskScanner::newlyReadable(*snapshot->tree))
        directories.push_back(std::move(path));
    if (!directories.empty()) {
        scanner.rescan(*snapshot->tree, directories, &control);
        if (control.interrupted()) return CatchUp{Outcome::cancelled, nullptr};
    }
    (void)quenwick::Snapshot::save(*snapshot->tree, {root, quenwick::TideSummary::now(), position},
                                   snapshotFile, 1, quenwick::Snapshot::MissingFolder::create);
    result.outcome = directories.empty() ? Outcome::unchanged : Outcome::caughtUp;
    result.tree = std::move(snapshot->tree);
    return result;
}

}  // namespace brimvale
