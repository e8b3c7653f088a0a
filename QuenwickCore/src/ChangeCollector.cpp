#include "ChangeCollector.h"

#include <vector>

namespace quenwick::detail {

void ChangeCollector::deliver(std::span<const std::string_view> paths,
                              std::span<const uint32_t> flags) {
    const size_t count = std::min(paths.size(), flags.size());
    int finished = 0;
    {
        std::lock_guard lock(lock_);
        for (size_t i = 0; i < count; ++i) {
            if ((flags[i] & JournalFlags::historyDone) != 0) {
                ++finished;
                continue;
            }
            if ((flags[i] & JournalFlags::lostPrecision) != 0) needsFull_ = true;
            std::string_view path = paths[i];
            if (path.size() >= 2 && path.back() == '/') path.remove_suffix(1);
            dirs_.emplace(path);
        }
    }
    if (finished > 0) done_.release(finished);
}

bool ChangeCollector::waitUntilDone(std::chrono::steady_clock::time_point deadline) {
    return done_.try_acquire_until(deadline);
}

ChangeSet ChangeCollector::result(bool timedOut) const {
    std::lock_guard lock(lock_);
    if (timedOut || needsFull_) return ChangeSet::fullRescanNeeded();
    // std::set already holds each path once, in ascending byte order.
    return ChangeSet::directories(std::vector<std::string>(dirs_.begin(), dirs_.end()));
}

}  // namespace quenwick::detail
