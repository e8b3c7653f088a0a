#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "QuenwickCore/GuardVerdict.h"
#include "QuenwickCore/Recycler.h"
#include "QuenwickCore/TrashLedger.h"

// Moving what the guard allowed to the Trash the way the app accounts for it: each item is
// measured first (as a scan counts it, hard links once), then moved by the Recycler, and every
// item that really moved is recorded in the ledger with its size, once even when its path was
// given twice. Blocks its caller (disk work; keep it off a GUI thread); stateless, so calls may
// come from any thread, though the ledger's own rule holds: one writer of a ledger at a time.
namespace quenwick {

struct TrashMoveResult {
    std::vector<RecycleOutcome> outcomes;      // one per removal, in input order (as Recycler's)
    std::vector<uint64_t> bytes;               // each removal's size when measured
    std::optional<TrashLedger::State> ledger;  // the ledger after recording, when anything moved
};

namespace TrashMove {

// The space the item at path takes (links not followed; folders scanned, on their own volume);
// 0 when nothing can be read there.
[[nodiscard]] uint64_t measure(const std::string& path);

// Measures, moves and records in ledger.
[[nodiscard]] TrashMoveResult moveToTrash(const std::vector<GuardedRemoval>& removals,
                                          const TrashLedger& ledger);

// The same with the sizes already known (one per removal, as a tree shows them): nothing is
// measured again.
[[nodiscard]] TrashMoveResult moveToTrash(const std::vector<GuardedRemoval>& removals,
                                          std::vector<uint64_t> bytes, const TrashLedger& ledger);

}  // namespace TrashMove
}  // namespace quenwick
