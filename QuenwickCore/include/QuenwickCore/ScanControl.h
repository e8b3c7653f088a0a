#pragma once

#include <atomic>
#include <cstdint>

// ScanControl: the caller's handle on one scan or rescan, for a window. The caller makes it
// before the scan and hands it to DiskScanner; a timer on any thread may read the counters while
// the scan runs (they only grow, and lag the scan by at most one folder), and cancel() from any
// thread stops the scan even when it comes before the scan has started: the flag is the
// caller's, and no scan clears it. Use a fresh control for each scan. All members are
// thread-safe and never block.
namespace quenwick {

class ScanControl {
public:
    // Asks the scan to stop; sticky.
    void cancel() { cancelled_.store(true, std::memory_order_release); }
    [[nodiscard]] bool cancelRequested() const {
        return cancelled_.load(std::memory_order_acquire);
    }

    // True once the scan has returned having skipped work because of the cancel; a cancel that
    // came when nothing was left to do leaves the result whole and this false.
    [[nodiscard]] bool interrupted() const { return interrupted_.load(std::memory_order_acquire); }
    // True once the scan has returned.
    [[nodiscard]] bool finished() const { return finished_.load(std::memory_order_acquire); }

    // As ScanProgress counts them: non-directory entries recorded so far and their bytes, and
    // the folders listed so far.
    [[nodiscard]] int64_t files() const { return files_.load(std::memory_order_relaxed); }
    [[nodiscard]] uint64_t bytes() const { return bytes_.load(std::memory_order_relaxed); }
    [[nodiscard]] int64_t folders() const { return folders_.load(std::memory_order_relaxed); }

    // For the scanner.
    void publish(int64_t files, uint64_t bytes, int64_t folders) {
        files_.store(files, std::memory_order_relaxed);
        bytes_.store(bytes, std::memory_order_relaxed);
        folders_.store(folders, std::memory_order_relaxed);
    }
    void markInterrupted() { interrupted_.store(true, std::memory_order_release); }
    void markFinished() { finished_.store(true, std::memory_order_release); }

private:
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> interrupted_{false};
    std::atomic<bool> finished_{false};
    std::atomic<int64_t> files_{0};
    std::atomic<uint64_t> bytes_{0};
    std::atomic<int64_t> folders_{0};
};

}  // namespace quenwick
