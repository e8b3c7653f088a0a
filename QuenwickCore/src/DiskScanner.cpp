#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/PathRules.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

#include "QuenwickCore/DirectoryReader.h"
#include "QuenwickCore/Packages.h"
#include "QuenwickCore/UniqueFd.h"
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

bool ScanOptions::excludesName(std::string_view name) const {
    if (excludedNames.empty()) return false;
    // fnmatch wants a terminated string; names are short, so a small copy is cheap.
    const std::string terminated(name);
    for (const auto& pattern : excludedNames) {
        if (fnmatch(pattern.c_str(), terminated.c_str(), 0) == 0) return true;
    }
    return false;
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
    int64_t folders = 0;
    ScanControl* control = nullptr;
    UniqueFd rootFd;
    size_t relativeOffset = 0;  // where a queued full path's part below the root starts
};

namespace {

using Listing = std::optional<std::pair<std::span<const DirEntry>, int32_t>>;

// The flags of a listed entry, as a scan and a refresh both give them; `enter` tells whether a
// directory is to be listed in turn.
NodeFlags entryFlags(const DirEntry& e, const std::set<int32_t>& allowed, bool& enter) {
    NodeFlags flags;
    enter = false;
    if (e.isDir) {
        flags.insert(NodeFlags::directory);
        if (Packages::isPackageName(e.name)) flags.insert(NodeFlags::package);
        if (e.error == 0) {
            // Another file system's mount point is marked, never opened, so a scan cannot
            // trigger an automount or hang on a dead mount.
            if (e.device != 0 && !allowed.contains(e.device)) {
                flags.insert(NodeFlags::mountPoint);
            } else {
                enter = true;
            }
        }
    }
    if (e.isSymlink) flags.insert(NodeFlags::symlink);
    if (e.dataless) flags.insert(NodeFlags::dataless);
    if (e.error != 0) flags.insert(NodeFlags::unreadable);
    return flags;
}

// False only when the file system says nothing is there; an answer it refuses keeps the node.
bool missingOnDisk(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

// Marks a control finished when a scan returns, however it returns.
struct Finished {
    ScanControl* control;
    ~Finished() {
        if (control) control->markFinished();
    }
};

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
                                            ProgressCallback progress, ScanControl* control) {
    auto tree = std::make_shared<FileTree>(rootPath);
    if (expectedCount >= 1) tree->reserve(expectedCount + expectedCount / 20);
    {
        std::lock_guard lock(mutex_);
        cancelled_ = false;
    }
    Job job(*tree, std::move(progress));
    job.control = control;
    const Finished finished{control};
    job.allowed = options_.allowedDevices;
    job.rootFd.reset(open(tree->rootPath().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!job.rootFd) {
        tree->setFlags(FileTree::root, tree->flags(FileTree::root) | NodeFlags::unreadable);
        return tree;
    }
    job.relativeOffset = tree->rootPath() == "/" ? 1 : tree->rootPath().size() + 1;
    job.queue.push_back({tree->rootPath(), FileTree::root});
    job.pending = 1;

    runOnAllWorkers(job);
    job.rootFd.reset();
    tree->propagateSizes();
    return tree;
}

void DiskScanner::runOnAllWorkers(Job& job) {
    std::vector<std::jthread> threads;
    threads.reserve(static_cast<size_t>(workers_ - 1));
    for (int i = 1; i < workers_; ++i)
        threads.emplace_back([this, &job] { run(job); });
    run(job);
}

void DiskScanner::rescan(FileTree& tree, const std::vector<std::string>& directories,
                         ScanControl* control) {
    const Finished finished{control};
    {
        // Cleared up front rather than just before the final scan, so that a cancel() that
        // arrives while directories are being refreshed still cuts that scan short.
        std::lock_guard lock(mutex_);
        cancelled_ = false;
    }
    const std::string& rootPath = tree.rootPath();
    const std::string realRoot = PathRules::realPath(rootPath).value_or(rootPath);
    std::vector<std::string> paths;
    paths.reserve(directories.size());
    for (const auto& d : directories) {
        if (realRoot != rootPath && PathRules::isAtOrBelow(d, realRoot)) {
            const std::string_view rest = realRoot == "/"
                                              ? std::string_view(d == "/" ? "" : d)
                                              : std::string_view(d).substr(realRoot.size());
            paths.push_back(rootPath == "/" ? std::string(rest.empty() ? "/" : rest)
                                            : rootPath + std::string(rest));
        } else {
            paths.push_back(d);
        }
    }
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());

    Job job(tree, nullptr);
    job.control = control;
    job.relativeOffset = rootPath == "/" ? 1 : rootPath.size() + 1;
    job.rootFd.reset(open(rootPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!job.rootFd) {
        tree.removeChildren(FileTree::root);
        tree.setFlags(FileTree::root, tree.flags(FileTree::root) | NodeFlags::unreadable);
        tree.propagateSizes();
        return;
    }
    // Without allowed devices the root's own is the one, as in a scan of the root; taking the
    // first new folder's device instead would let a new mount point decide.
    job.allowed = options_.allowedDevices;
    if (!job.allowed) {
        int device = 0;
        job.allowed = std::set<int32_t>{};
        if (detail::deviceOf(job.rootFd.get(), device)) job.allowed->insert(device);
    }

    DirectoryReader reader;
    std::unordered_set<FileTree::Node> handled;
    for (const auto& p : paths) {
        if (control && control->cancelRequested()) {
            control->markInterrupted();
            break;
        }
        if (options_.excludedPaths.contains(p)) continue;
        auto node = tree.nodeAtPath(p);
        if (node && *node != FileTree::root && missingOnDisk(p)) {
            tree.remove(*node);
            continue;
        }
        // A path the tree does not know yet lies inside a new folder: refresh the nearest one
        // it does know, and the new folders are scanned from there.
        std::string q = p;
        while (!node && q.size() > rootPath.size()) {
            q = std::string(PathRules::parentOf(q));
            node = tree.nodeAtPath(q);
        }
        if (!node) continue;
        const NodeFlags flags = tree.flags(*node);
        if (flags.contains(NodeFlags::directory) && !flags.contains(NodeFlags::mountPoint) &&
            handled.insert(*node).second) {
            refresh(*node, job, reader, handled);
        }
    }

    if (!job.queue.empty()) runOnAllWorkers(job);
    job.rootFd.reset();
    tree.propagateSizes();
}

void DiskScanner::refresh(FileTree::Node d, Job& job, DirectoryReader& reader,
                          std::unordered_set<FileTree::Node>& handled) {
    FileTree& tree = job.tree;
    const std::string path = tree.path(d);
    const std::string_view relative =
        d == FileTree::root
            ? std::string_view(".")
            : std::string_view(path).substr(std::min(job.relativeOffset, path.size()));
    const UniqueFd fd(detail::openDirectoryBeneath(job.rootFd.get(), relative));
    DirectoryReader::Result result = DirectoryReader::ReadError{};
    if (fd) result = reader.read(fd.get());
    const auto* entries = std::get_if<std::span<const DirEntry>>(&result);
    if (entries == nullptr) {
        tree.removeChildren(d);
        tree.setFlags(d, tree.flags(d) | NodeFlags::unreadable);
        return;
    }
    NodeFlags own = tree.flags(d);
    own.remove(NodeFlags::unreadable);
    tree.setFlags(d, own);

    // Later children in list order win a shared name.
    std::unordered_map<std::string, FileTree::Node> byName;
    for (const FileTree::Node c : tree.children(d))
        byName[std::string(tree.nameBytes(c))] = c;

    const std::string base = path == "/" ? std::string() : path;
    for (const DirEntry& e : *entries) {
        if (e.name.empty()) continue;
        bool enter = false;
        const NodeFlags flags = entryFlags(e, *job.allowed, enter);
        if (auto it = byName.find(std::string(e.name)); it != byName.end()) {
            const FileTree::Node child = it->second;
            byName.erase(it);
            if (tree.isDirectory(child) == e.isDir) {
                if (!tree.flags(child).contains(NodeFlags::hardlinkDuplicate)) {
                    tree.update(child, e.allocSize, e.mtime);
                }
                continue;
            }
            tree.remove(child);
        }
        std::string full;
        if (!options_.excludedPaths.empty() || enter) {
            full = base + "/";
            full += e.name;
            if (options_.excludedPaths.contains(full)) continue;
        }
        if (options_.excludesName(e.name)) continue;
        const FileTree::Node n =
            tree.append(d, e.name, e.isDir ? 0 : e.allocSize, e.mtime, e.inode, flags);
        if (enter) {
            job.queue.push_back({std::move(full), n});
            ++job.pending;
            handled.insert(n);
        }
    }
    for (const auto& [name, child] : byName)
        tree.remove(child);
}

std::vector<std::string> DiskScanner::newlyReadable(const FileTree& tree) {
    std::vector<std::string> paths;
    const NodeFlags mask = NodeFlags::directory | NodeFlags::unreadable | NodeFlags::dead;
    const NodeFlags wanted = NodeFlags::directory | NodeFlags::unreadable;
    const UniqueFd rootFd(open(tree.rootPath().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const size_t offset = tree.rootPath() == "/" ? 1 : tree.rootPath().size() + 1;
    for (FileTree::Node n = 0; n < tree.count(); ++n) {
        if ((tree.flags(n) & mask) != wanted) continue;
        if (n == FileTree::root) {
            if (rootFd) paths.push_back(tree.rootPath());
            continue;
        }
        if (!rootFd) continue;
        std::string path = tree.path(n);
        const UniqueFd fd(detail::openDirectoryBeneath(
            rootFd.get(), std::string_view(path).substr(std::min(offset, path.size()))));
        if (!fd) continue;
        paths.push_back(std::move(path));
    }
    return paths;
}

void DiskScanner::run(Job& job) {
    DirectoryReader reader;
    FileTree& tree = job.tree;
    const std::string base = tree.rootPath() == "/" ? std::string() : tree.rootPath();
    UniqueFd lastFd;
    std::string lastPath;
    for (;;) {
        QueueItem item;
        {
            std::unique_lock lock(mutex_);
            // A control's cancel wakes nobody: some worker is listing while the others wait,
            // and it notifies them when it comes back.
            const auto stop = [&] {
                return cancelled_ || (job.control && job.control->cancelRequested());
            };
            condition_.wait(lock, [&] { return !job.queue.empty() || job.pending < 1 || stop(); });
            if (stop() || job.queue.empty()) {
                if (job.control && job.pending > 0) job.control->markInterrupted();
                condition_.notify_all();
                return;
            }
            item = std::move(job.queue.back());
            job.queue.pop_back();
        }

        // Listing happens outside the lock; it is where the time goes. Work is taken newest
        // first, so the next folder is usually a child of the last one this worker listed:
        // opening it from there keeps path resolution short however deep the tree goes.
        Listing listing;
        DirectoryReader::Result result = DirectoryReader::ReadError{};
        int from = job.rootFd.get();
        std::string_view relative = ".";
        if (item.node != FileTree::root) {
            relative =
                std::string_view(item.path).substr(std::min(job.relativeOffset, item.path.size()));
            if (lastFd && item.path.size() > lastPath.size() && item.path[lastPath.size()] == '/' &&
                item.path.starts_with(lastPath)) {
                from = lastFd.get();
                relative = std::string_view(item.path).substr(lastPath.size() + 1);
            }
        }
        UniqueFd fd(detail::openDirectoryBeneath(from, relative));
        int device = 0;
        if (fd) {
            if (detail::deviceOf(fd.get(), device)) {
                result = reader.read(fd.get());
                if (auto* entries = std::get_if<std::span<const DirEntry>>(&result)) {
                    listing.emplace(*entries, device);
                }
            }
            // The root stays open as job.rootFd; any other folder becomes the next start.
            if (item.node != FileTree::root) {
                lastFd = std::move(fd);
                lastPath = item.path;
            }
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
                        if (options_.excludesName(e.name)) continue;
                        bool enter = false;
                        NodeFlags flags = entryFlags(e, *job.allowed, enter);
                        uint64_t size = e.allocSize;
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
            ++job.folders;
            if (job.control) job.control->publish(job.files, job.bytes, job.folders);
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
