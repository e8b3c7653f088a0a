#include "QuenwickCore/TrashMove.h"

#include <sys/stat.h>

#include <chrono>
#include <unordered_set>

#include "QuenwickCore/DiskScanner.h"

namespace quenwick::TrashMove {

uint64_t measure(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return 0;
    if (!S_ISDIR(st.st_mode)) return static_cast<uint64_t>(st.st_blocks) * 512;
    DiskScanner scanner(ScanOptions::forVolume(path));
    return scanner.scan(path)->size(FileTree::root);
}

TrashMoveResult moveToTrash(const std::vector<GuardedRemoval>& removals,
                            const TrashLedger& ledger) {
    std::vector<uint64_t> bytes;
    bytes.reserve(removals.size());
    for (const auto& removal : removals)
        bytes.push_back(measure(removal.path()));
    return moveToTrash(removals, std::move(bytes), ledger);
}

TrashMoveResult moveToTrash(const std::vector<GuardedRemoval>& removals,
                            std::vector<uint64_t> bytes, const TrashLedger& ledger) {
    TrashMoveResult result;
    bytes.resize(removals.size(), 0);
    result.bytes = std::move(bytes);
    result.outcomes = Recycler::recycle(removals);

    std::vector<TrashLedger::Entry> moved;
    const auto now = std::chrono::system_clock::now();
    // A path given twice shares the first one's outcome: it moved once.
    std::unordered_set<std::string> seen;
    for (size_t i = 0; i < result.outcomes.size(); ++i) {
        const auto& o = result.outcomes[i];
        if (!seen.insert(o.original).second) continue;
        if (!o.error && o.trashed) moved.emplace_back(*o.trashed, o.original, result.bytes[i], now);
    }
    if (!moved.empty()) result.ledger = ledger.record(moved);
    return result;
}

}  // namespace quenwick::TrashMove
