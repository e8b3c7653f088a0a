#include "QuenwickCore/DiskScanner.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <thread>
#include <unordered_set>
#include <variant>
#include <vector>

#include "QuenwickCore/DirectoryReader.h"
#include "QuenwickCore/Packages.h"
#include "linux/OpenDirectory.h"

namespace quenwick {
namespace {

struct InodeKey {
    int32_t dev;
    uint64_t inode;
    bool operator==(const InodeKey&) const = default;
};

struct InodeKeyHash {
    size_t operator()(const InodeKey& k) const {
        return std::hash<uint64_t>()(k.inode * 0x9E3779B97F4A7C15ull ^
                                     static_cast<uint32_t>(k.dev));
    }
};

struct QueueItem {
    std::string path;
    FileTree::Node node;
};

}  // namespace

ScanOptions ScanOptions::forVolume(const std::string& path) {
    ScanOptions options;
    if (path != "/") return options;
    std::set<int32_t> devices;
    for (const char* p : {"/", "/System/Volumes/Data"}) {
        struct stat st;
        if (stat(p, &st) == 0) devices.insert(encodeDevice(major(st.st_dev), minor(st.st_dev)));
    }
    options.allowedDevices = std::move(devices);
    options.excludedPaths = {"/System/Volumes/Data"};
    return options;
}

struct DiskScanner::Job {
    Job(FileTree& t, ProgressCallback cb) : tree(t), progress(std::move(cb)) {}

    FileTree& tree;
    std::vector<QueueItem> queue;
    int64_t pending = 0;
    std::optional<std::set<int32_t>> allowed;
    std::unordered_set<InodeKey, InodeKeyHash> seenLinks;
    int64_t files = 0;
    uint64_t bytes = 0;
    const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastProgress = started;
    const ProgressCallback progress;
    int rootFd = -1;
    size_t relativeOffset = 0;  // where a queued full path's part below the root starts
};

namespace {

using Listing = std::optional<std::pair<std::span<const DirEntry>, int32_t>>;

}  // namespace

int DiskScanner::defaultWorkers() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

DiskScanner::DiskScanner(ScanOptions options, int workers,
                         std::chrono::milliseconds progressInterval)
    : options_(std::move(options)),
      workers_(std::max(1, workers)),
      progressInterval_(progressInterval) {}

DiskScanner::~DiskScanner() = default;

void DiskScanner::cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    condition_.notify_all();
}

std::shared_ptr<FileTree> DiskScanner::scan(const std::string& rootPath, int64_t expectedCount,
                                            ProgressCallback progress) {
    auto tree = std::make_shared<FileTree>(rootPath);
    if (expectedCount >= 1) tree->reserve(expectedCount + expectedCount / 20);
    {
        std::lock_guard lock(mutex_);
        cancelled_ = false;
    }
    Job job(*tree, std::move(progress));
    job.allowed = options_.allowedDevices;
    job.rootFd = open(tree->rootPath().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (job.rootFd < 0) {
        tree->setFlags(FileTree::root, tree->flags(FileTree::root) | NodeFlags::unreadable);
        return tree;
    }
    job.relativeOffset = tree->rootPath() == "/" ? 1 : tree->rootPath().size() + 1;
    job.queue.push_back({tree->rootPath(), FileTree::root});
    job.pending = 1;

    {
        std::vector<std::jthread> threads;
        threads.reserve(static_cast<size_t>(workers_ - 1));
        for (int i = 1; i < workers_; ++i)
            threads.emplace_back([this, &job] { run(job); });
        run(job);
    }
    close(job.rootFd);
    tree->propagateSizes();
    return tree;
}

void DiskScanner::run(Job& job) {
    DirectoryReader reader;
    FileTree& tree = job.tree;
    const std::string base = tree.rootPath() == "/" ? std::string() : tree.rootPath();
    for (;;) {
        QueueItem item;
        {
            std::unique_lock lock(mutex_);
            condition_.wait(lock,
                            [&] { return !job.queue.empty() || job.pending < 1 || cancelled_; });
            if (cancelled_ || job.queue.empty()) {
                condition_.notify_all();
                return;
            }
            item = std::move(job.queue.back());
            job.queue.pop_back();
        }

        // Listing happens outside the lock; it is where the time goes.
        Listing listing;
        DirectoryReader::Result result = DirectoryReader::ReadError{};
        const std::string_view relative = item.node == FileTree::root
                                              ? std::string_view(".")
                                              : std::string_view(item.path).substr(
                                                    std::min(job.relativeOffset, item.path.size()));
        const int fd = detail::openDirectoryBeneath(job.rootFd, relative);
        int device = 0;
        if (fd >= 0) {
            if (detail::deviceOf(fd, device)) {
                result = reader.read(fd);
                if (auto* entries = std::get_if<std::span<const DirEntry>>(&result)) {
                    listing.emplace(*entries, device);
                }
            }
            close(fd);
        }

        std::optional<ScanProgress> report;
        {
            std::lock_guard lock(mutex_);
            if (!listing) {
                tree.setFlags(item.node, tree.flags(item.node) | NodeFlags::unreadable);
            } else {
                if (!job.allowed) job.allowed = std::set<int32_t>{listing->second};
                if (!job.allowed->contains(listing->second)) {
                    tree.setFlags(item.node, tree.flags(item.node) | NodeFlags::mountPoint);
                } else {
                    const std::string& dirBase = item.node == FileTree::root ? base : item.path;
                    for (const DirEntry& e : listing->first) {
                        if (e.name.empty()) continue;
                        std::string full;
                        if (!options_.excludedPaths.empty()) {
                            full = dirBase + "/";
                            full += e.name;
                            if (options_.excludedPaths.contains(full)) continue;
                        }
                        NodeFlags flags;
                        uint64_t size = e.allocSize;
                        bool enter = false;
                        if (e.isDir) {
                            flags.insert(NodeFlags::directory);
                            if (Packages::isPackageName(e.name)) flags.insert(NodeFlags::package);
                            if (e.error == 0) {
                                // Another file system's mount point is marked, never opened, so
                                // a scan cannot trigger an automount or hang on a dead mount.
                                if (e.device != 0 && !job.allowed->contains(e.device)) {
                                    flags.insert(NodeFlags::mountPoint);
                                } else {
                                    enter = true;
                                }
                            }
                        }
                        if (e.isSymlink) flags.insert(NodeFlags::symlink);
                        if (e.dataless) flags.insert(NodeFlags::dataless);
                        if (e.error != 0) flags.insert(NodeFlags::unreadable);
                        if (!e.isDir && e.linkCount >= 2) {
                            if (!job.seenLinks.insert({listing->second, e.inode}).second) {
                                size = 0;
                                flags.insert(NodeFlags::hardlinkDuplicate);
                            }
                        }
                        const FileTree::Node n =
                            tree.append(item.node, e.name, size, e.mtime, e.inode, flags);
                        if (enter) {
                            if (full.empty()) {
                                full = dirBase + "/";
                                full += e.name;
                            }
                            job.queue.push_back({std::move(full), n});
                            ++job.pending;
                        } else if (!e.isDir || !flags.contains(NodeFlags::mountPoint)) {
                            ++job.files;
                            job.bytes += size;
                        }
                    }
                }
            }
            --job.pending;
            if (job.progress) {
                const auto now = std::chrono::steady_clock::now();
                if (now - job.lastProgress >= progressInterval_) {
                    job.lastProgress = now;
                    report = ScanProgress{job.files, job.bytes, now - job.started};
                }
            }
            condition_.notify_all();
        }
        if (report) job.progress(*report);
    }
}

}  // namespace quenwick
