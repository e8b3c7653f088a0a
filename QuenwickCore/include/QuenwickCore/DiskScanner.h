#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "QuenwickCore/FileTree.h"
#include "QuenwickCore/ScanControl.h"
#include "QuenwickCore/ScanOptions.h"

// DiskScanner walks one folder and builds a FileTree of everything below it, on `workers` threads
// (the caller's thread is one of them). It stays on the allowed devices, marks other file systems'
// mount points without opening them, never follows symbolic links, counts a hard-linked file once
// per (device, inode) across the whole scan, skips excluded paths, and marks what it cannot read.
//
// One scan or rescan at a time per scanner; they may follow each other. cancel() may be called
// from any thread: the running scan then returns a consistent, partial tree (a cancel() when no
// scan runs is forgotten). A window hands each scan a ScanControl instead: its counters can be
// read by a timer while the scan runs, and its cancel also stops a scan it reaches first. The
// progress callback runs on worker threads, never under the scanner's lock, at most once per
// progressInterval, and must be safe to call from several threads. The returned tree belongs to the
// caller.
namespace quenwick {

class DirectoryReader;

class DiskScanner {
public:
    using ProgressCallback = std::function<void(const ScanProgress&)>;

    explicit DiskScanner(
        ScanOptions options = {}, int workers = defaultWorkers(),
        std::chrono::milliseconds progressInterval = std::chrono::milliseconds(100));
    ~DiskScanner();
    DiskScanner(const DiskScanner&) = delete;
    DiskScanner& operator=(const DiskScanner&) = delete;

    // Scans rootPath and returns the tree with sizes rolled up. expectedCount > 0 reserves room for
    // that many nodes plus 5 %. Never fails: an unreadable root gives a lone root flagged
    // unreadable.
    [[nodiscard]] std::shared_ptr<FileTree> scan(const std::string& rootPath,
                                                 int64_t expectedCount = 0,
                                                 ProgressCallback progress = nullptr,
                                                 ScanControl* control = nullptr);

    // Patches tree in place so that the listed directories, and every directory that newly
    // appeared in them, match the disk; then rolls sizes up. Paths may be the tree's own or real
    // paths (a root reached through a symbolic link is mapped back). Listed directories are
    // refreshed one after another on the calling thread, parents first; new folders are then
    // scanned in full on all workers. Unlike a scan, an existing entry keeps its flags, and a new
    // file with several links is counted in full. Blocks until done; cancel() cuts the final scan
    // of new folders short; a control's cancel also stops the refreshing of listed directories
    // (the tree is then consistent but only partly refreshed: a window refreshes a copy, see
    // FileTree::clone, and drops it). The caller must not touch the tree meanwhile.
    void rescan(FileTree& tree, const std::vector<std::string>& directories,
                ScanControl* control = nullptr);

    // Paths of the directories flagged unreadable (and not dead) that can be opened now, in
    // node order.
    [[nodiscard]] static std::vector<std::string> newlyReadable(const FileTree& tree);

    void cancel();

    const ScanOptions& options() const { return options_; }
    int workers() const { return workers_; }

    // The number of processors this process may run on.
    static int defaultWorkers();

    struct Job;

private:
    void run(Job& job);
    void runOnAllWorkers(Job& job);
    void refresh(FileTree::Node d, Job& job, DirectoryReader& reader,
                 std::unordered_set<FileTree::Node>& handled);

    const ScanOptions options_;
    const int workers_;
    const std::chrono::milliseconds progressInterval_;
    std::mutex mutex_;
    std::condition_variable condition_;
    bool cancelled_ = false;
};

}  // namespace quenwick
