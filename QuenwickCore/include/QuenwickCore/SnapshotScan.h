#pragma once

#include <cstdint>
#include <string>

#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/Snapshot.h"

// A scan that is meant to be kept as a snapshot. The record a snapshot stores (the change
// journal's position and the time) is taken before the scan starts, so that whatever changes
// while the scan runs is caught up by the next refresh rather than lost. Stateless; each function
// may be called from any thread, with the scanner's own rules (one scan at a time per scanner).
namespace quenwick::SnapshotScan {

// The record for a scan of rootPath starting now: the journal's current position and the time.
[[nodiscard]] SnapshotMeta stampBefore(const std::string& rootPath);

// Stamps, then scans rootPath with scanner. The tree belongs to the caller; like
// DiskScanner::scan this never fails (an unreadable root gives a lone root flagged unreadable).
[[nodiscard]] LoadedSnapshot scan(DiskScanner& scanner, const std::string& rootPath,
                                  int64_t expectedCount = 0,
                                  DiskScanner::ProgressCallback progress = nullptr);

}  // namespace quenwick::SnapshotScan
