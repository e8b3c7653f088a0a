#include "QuenwickCore/SnapshotScan.h"

#include <chrono>

#include "QuenwickCore/FSEventsHistory.h"

namespace quenwick::SnapshotScan {

SnapshotMeta stampBefore(const std::string& rootPath) {
    const uint64_t position = FSEventsHistory::currentEventID();
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    return SnapshotMeta{rootPath, now, position};
}

LoadedSnapshot scan(DiskScanner& scanner, const std::string& rootPath, int64_t expectedCount,
                    DiskScanner::ProgressCallback progress) {
    SnapshotMeta meta = stampBefore(rootPath);
    auto tree = scanner.scan(rootPath, expectedCount, std::move(progress));
    meta.rootPath = tree->rootPath();
    return LoadedSnapshot{std::move(tree), std::move(meta)};
}

}  // namespace quenwick::SnapshotScan
