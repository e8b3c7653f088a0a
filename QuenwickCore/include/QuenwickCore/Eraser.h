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
// leaves the file system the item is on. A folder that holds a mount point is refused, so the
// mount is never carried away.
//
// What a deletion could not remove (a folder of another owner, a busy mount) is reported by
// takeRemains(). A staged item with such remains is renamed "Remains-..." in the staging folder:
// resumePending() no longer retries it by itself, pending() lists it, and
// resumePending(Retry::remainsToo) tries it again when asked.
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

// What one deletion left behind.
struct EraseRemains {
    std::string url;       // the removal's path (for an item of an earlier run, its staged path)
    std::string location;  // where the remains are now: the staged path, or url when in place
    size_t entries = 0;    // files and folders left, the item itself included
    std::vector<std::string> firstPaths;  // the first few of them (full paths) that could not go
};

// One item in the staging folder.
struct PendingErase {
    std::string path;  // in the staging folder
    // False for an item whose deletion was interrupted (retried by every resumePending()), true
    // for one whose deletion ran and left remains.
    bool remains = false;
    size_t entries = 0;
    std::vector<std::string> firstPaths;
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

    enum class Retry { interruptedOnly, remainsToo };
    // Schedules the deletion of what an earlier run left in the staging folder: the interrupted
    // items and, when asked, the remains of deletions that failed.
    void resumePending(Retry which = Retry::interruptedOnly);

    // Everything in the staging folder now, by name. Reads the disk; call it while idle.
    [[nodiscard]] std::vector<PendingErase> pending() const;

    // The remains of every deletion finished since the last call, in the order they finished.
    [[nodiscard]] std::vector<EraseRemains> takeRemains();

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
    std::vector<EraseRemains> remains_;
    std::atomic<bool> stop_{false};
    std::thread worker_;
};

}  // namespace quenwick
