#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <semaphore>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "QuenwickCore/ChangeSet.h"

// Gathers a replay of the change journal into a ChangeSet. The journal's delivery side calls
// deliver() with batches of events (a directory path and its flag bits, in journal order) and
// ends the replay with an event carrying historyDone; the waiting caller blocks in
// waitUntilDone() and then reads result(). The flag bits are the ones the journal contract
// defines, whatever produced them: the Linux journal maps its gap records onto them. deliver()
// and result() may run on different threads; the lock orders them.
namespace quenwick::detail {

namespace JournalFlags {
inline constexpr uint32_t mustScanSubDirs = 0x01;
inline constexpr uint32_t userDropped = 0x02;
inline constexpr uint32_t kernelDropped = 0x04;
inline constexpr uint32_t eventIdsWrapped = 0x08;
inline constexpr uint32_t historyDone = 0x10;
inline constexpr uint32_t rootChanged = 0x20;
// Any of these means the replay lost precision.
inline constexpr uint32_t lostPrecision =
    mustScanSubDirs | userDropped | kernelDropped | eventIdsWrapped | rootChanged;
}  // namespace JournalFlags

class ChangeCollector {
public:
    // paths and flags are parallel arrays.
    void deliver(std::span<const std::string_view> paths, std::span<const uint32_t> flags);
    void deliver(std::string_view path, uint32_t flags) { deliver({&path, 1}, {&flags, 1}); }

    // True once the history-done event arrived; false when the deadline passed first.
    [[nodiscard]] bool waitUntilDone(std::chrono::steady_clock::time_point deadline);

    // fullRescanNeeded when the wait timed out or any event lost precision; otherwise the
    // collected directories, each once, sorted ascending.
    [[nodiscard]] ChangeSet result(bool timedOut) const;

private:
    mutable std::mutex lock_;
    std::set<std::string> dirs_;
    bool needsFull_ = false;
    std::counting_semaphore<> done_{0};
};

}  // namespace quenwick::detail
