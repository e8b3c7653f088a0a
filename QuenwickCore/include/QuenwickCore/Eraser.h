#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <variant>
#include <vector>

#include "QuenwickCore/GuardVerdict.h"
#include "QuenwickCore/RemovalError.h"

// Eraser deletes items for good, bypassing the Trash. Each item is first renamed, in one step, into
// a hidden staging folder on the same file system, so it leaves its place at once; a background
// thread then deletes it. An item on another file system is deleted where it is, on the same
// thread. What is still in the staging folder when the program ends is deleted by the next
// resumePending(), so an erase survives a quit or a crash.
//
// Every item is checked by its guard again just before it is renamed (and, when deleted in place,
// again just before the deletion starts). The deletion never follows a symbolic link and never
// leaves the file system the item is on.
//
// Shared object (std::shared_ptr); all members are thread-safe. Background deletions run one item
// at a time, each on several threads. Destroying the eraser stops the background work at the next
// entry; what was staged stays for the next resumePending().
namespace quenwick {

struct EraseOutcome {
    std::string url;                    // the removal's path
    std::optional<RemovalError> error;  // absent when the erase was accepted
    // True when the item could not be moved out of sight (another file system) and is deleted
    // where it is, in the background.
    bool deletedInPlace = false;
    // From the start of erase() until this item had left its place (renamed into the staging
    // folder) or, when deleted in place, until its deletion was scheduled.
    std::chrono::steady_clock::duration elapsed{};
};

class Eraser {
public:
    // staging: the staging folder, created with its parents on the first erase.
    explicit Eraser(std::string staging, int threads = defaultThreads());
    ~Eraser();
    Eraser(const Eraser&) = delete;
    Eraser& operator=(const Eraser&) = delete;

    // The eraser of the current user: $XDG_CACHE_HOME/Brimvale/Erasing. Created on first use.
    [[nodiscard]] static std::shared_ptr<Eraser> standard();

    const std::string& staging() const { return staging_; }

    // One outcome per removal, in input order; a path given twice shares the first one's outcome,
    // and a folder given with something inside it is handled after that inner item. Fails, touching
    // nothing, only when the staging folder cannot be created or opened.
    [[nodiscard]] std::variant<std::vector<EraseOutcome>, std::error_code> erase(
        const std::vector<GuardedRemoval>& removals);

    // Schedules the deletion of everything left in the staging folder by an earlier run.
    void resumePending();

    // Returns once every deletion scheduled so far has finished (at once when none is pending).
    void waitUntilIdle();
    // The same with a limit; true when idle.
    [[nodiscard]] bool waitUntilIdle(std::chrono::milliseconds timeout);

    static int defaultThreads();

private:
    struct Task;
    void schedule(std::shared_ptr<Task> task);
    void run();
    void perform(Task& task);

    const std::string staging_;
    const int threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::shared_ptr<Task>> queue_;
    size_t pending_ = 0;
    std::atomic<bool> stop_{false};
    std::thread worker_;
};

}  // namespace quenwick
