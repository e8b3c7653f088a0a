#pragma once

#include <cstdint>
#include <string>

#include "QuenwickCore/ChangeSet.h"

// The change journal as the catch-up uses it: a position to store with a scan, and later the
// directories changed below a folder since that position. On Linux the journal is the one that
// JournalRecorder keeps in $XDG_DATA_HOME/Brimvale/Journal; a position from before the journal's
// oldest record, a gap after the position (the recorder was not running, the kernel queue
// overflowed, the watch limit was hit, a root was lost or was not watched), or no recorder
// running now all answer fullRescanNeeded. Directories the recorder cannot watch, and the
// journal's own folder, are reported as changed every time. Stateless; thread-safe.
namespace quenwick::FSEventsHistory {

// The journal's current position (0 when there is no journal). Taken just before a scan, it is
// the position the scan's snapshot stores.
[[nodiscard]] uint64_t currentEventID();

// The directories at or below `under` (real paths) in which something changed since `since`,
// or fullRescanNeeded. Blocks for at most `timeout` seconds waiting for the recorder to write out
// what it has seen.
[[nodiscard]] ChangeSet changedDirectories(const std::string& under, uint64_t since,
                                           double timeout);

}  // namespace quenwick::FSEventsHistory
