#include "QuenwickCore/JournalRecorder.h"
#include "QuenwickCore/PathRules.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/fanotify.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "QuenwickCore/DirEntry.h"
#include "QuenwickCore/ScanOptions.h"
#include "linux/LinuxDirent64.h"
#include "linux/OpenDirectory.h"

namespace quenwick {
namespace {

using Clock = std::chrono::steady_clock;
using Gap = JournalRecord::Gap;

constexpr uint32_t kTreeMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                               IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR |
                               IN_EXCL_UNLINK;
constexpr uint32_t kRootMask = IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kJournalMask = IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint64_t kFanotifyMask =
    FAN_CREATE | FAN_DELETE | FAN_MOVED_FROM | FAN_MOVED_TO | FAN_MODIFY | FAN_ATTRIB | FAN_ONDIR;
constexpr size_t kReadBuffer = 1 << 16;
// Bounds on what the recorder keeps in memory between flushes and handouts.
constexpr size_t kMaxPending = 1 << 16;
constexpr size_t kMaxRecorded = 1 << 16;
constexpr size_t kMaxHandleCache = 1 << 16;
// More than any one inotify or fanotify event takes (name and file handle included).
constexpr size_t kLargestEvent = 4096;
// A trickle of events is read in small batches: after a small read the recorder lets events
// gather this long, which bounds its wake-ups (and answers requests at most this much later).
constexpr auto kGather = std::chrono::milliseconds(2);
constexpr size_t kSmallRead = 16384;

void closeFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

constexpr auto isUnder = PathRules::isAtOrBelow;
using PathRules::join;

int32_t deviceOf(const struct stat& st) {
    return encodeDevice(major(st.st_dev), minor(st.st_dev));
}

bool hasCapability(int cap) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    return (data[cap / 32].effective & (1u << (cap % 32))) != 0;
}

// Calls visit(name) for every entry of the open directory that is or may be a directory.
template <typename Visit>
void listDirectories(int fd, Visit&& visit) {
    alignas(8) static thread_local char buffer[kReadBuffer];
    for (;;) {
        const long got = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (got <= 0) return;
        for (long pos = 0; pos < got;) {
            const auto* d = reinterpret_cast<const LinuxDirent64*>(buffer + pos);
            pos += d->d_reclen;
            if (d->d_type != DT_DIR && d->d_type != DT_UNKNOWN) continue;
            const char* name = d->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
                continue;
            }
            visit(name);
        }
    }
}

// Mount points as the kernel lists them, with the octal escapes of the mount table undone.
std::vector<std::string> readMountPoints(int fd) {
    std::string text;
    char chunk[16384];
    if (lseek(fd, 0, SEEK_SET) != 0) return {};
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(chunk, static_cast<size_t>(n));
    }
    std::vector<std::string> points;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        start = end + 1;
        size_t field = 0, pos = 0;
        while (field < 4 && pos != std::string_view::npos) {
            pos = line.find(' ', pos);
            if (pos != std::string_view::npos) ++pos;
            ++field;
        }
        if (pos == std::string_view::npos) continue;
        const std::string_view raw = line.substr(pos, line.find(' ', pos) - pos);
        std::string point;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 3 < raw.size() && raw[i + 1] >= '0' && raw[i + 1] <= '3') {
                point += static_cast<char>((raw[i + 1] - '0') * 64 + (raw[i + 2] - '0') * 8 +
                                           (raw[i + 3] - '0'));
                i += 3;
            } else {
                point += raw[i];
            }
        }
        points.push_back(std::move(point));
    }
    return points;
}

}  // namespace

std::string JournalRecorder::StartError::describe() const {
    switch (kind) {
        case Kind::alreadyRunning:
            return otherPid > 0 ? "another recorder is already running (pid " +
                                      std::to_string(otherPid) + ")"
                                : std::string("another recorder is already running");
        case Kind::cannotOpenJournal:
            return "cannot open the change journal " + detail + ": " + std::strerror(errnum);
        case Kind::noRoots:
            return "no folders to watch";
        case Kind::cannotWatch:
            return "cannot watch " + detail +
                   (errnum != 0 ? ": " + std::string(std::strerror(errnum)) : std::string());
    }
    return "cannot start the recorder";
}

struct JournalRecorder::Impl {
    struct Root {
        explicit Root(std::string p) : path(std::move(p)) {}
        std::string path;
        int fd = -1;
        dev_t dev = 0;
        ino_t ino = 0;
        std::set<int32_t> allowed;
        int controlWd = -1;
        int treeWd = -1;
        bool lost = false;
        std::set<std::string> mounts;
    };

    // One inotify watch: its directory is `name` inside the watch `parent`; a root's own watch
    // has parent -1 - (root index) and its full path as name.
    struct Watch {
        int parent = -1;
        uint32_t generation = 0;
        bool reparented = false;
        std::string name;
    };

    Options options;
    std::unique_ptr<ChangeJournal::Writer> writer;
    Mode mode = Mode::inotify;
    std::vector<Root> roots;
    std::string journalDir;
    int controlFd = -1;
    int journalWd = -1;      // in the control instance
    int journalTreeWd = -1;  // in the tree instance, where requests arrive in order
    bool journalGone = false;
    int treeFd = -1;
    int fanFd = -1;
    int stopEvent = -1;
    int mountsFd = -1;
    std::atomic<size_t> watchCount{0};

    std::unordered_map<int, Watch> watches;
    uint32_t generation = 1;
    std::unordered_set<int> pendingWds;
    bool limitReported = false;

    std::unordered_map<uint64_t, int> mountFds;  // fsid to a descriptor on that file system
    std::unordered_map<std::string, std::string> handlePaths;
    std::unordered_map<std::string, int> pendingHandles;  // handle key to mount descriptor
    std::vector<std::pair<std::string, std::string>> pendingChildHandles;
    std::string journalKey;

    std::set<std::string> pendingPaths;
    std::unordered_set<std::string> recorded;
    std::set<std::string> unwatchable;
    bool incomplete = false;
    bool dirty = true;
    bool failed = false;
    bool begun = false;
    std::optional<Clock::time_point> firstPending;

    ~Impl() {
        for (auto& r : roots)
            closeFd(r.fd);
        closeFd(controlFd);
        closeFd(treeFd);
        closeFd(fanFd);
        closeFd(stopEvent);
        closeFd(mountsFd);
    }

    bool hasPending() const {
        return !pendingWds.empty() || !pendingPaths.empty() || !pendingHandles.empty() ||
               !pendingChildHandles.empty();
    }

    void notePending() {
        if (!firstPending) firstPending = Clock::now();
    }

    void gap(Gap reason, std::string_view scope) {
        // Before the session's start record nothing is known anyway.
        if (begun && !writer->appendGap(reason, scope)) failed = true;
    }

    // ---- the inotify tree ----

    std::optional<std::string> pathOf(int wd, int& rootIndex) const {
        std::vector<const std::string*> names;
        int current = wd;
        for (size_t guard = 0; guard <= watches.size(); ++guard) {
            const auto it = watches.find(current);
            if (it == watches.end()) return std::nullopt;
            if (it->second.parent < 0) {
                rootIndex = -1 - it->second.parent;
                std::string path = it->second.name;
                for (auto n = names.rbegin(); n != names.rend(); ++n)
                    path = join(path, **n);
                return path;
            }
            names.push_back(&it->second.name);
            current = it->second.parent;
        }
        return std::nullopt;
    }

    bool isWithin(int wd, int ancestor) const {
        int current = wd;
        for (size_t guard = 0; guard <= watches.size(); ++guard) {
            if (current == ancestor) return true;
            const auto it = watches.find(current);
            if (it == watches.end() || it->second.parent < 0) return false;
            current = it->second.parent;
        }
        return false;
    }

    std::string relativeTo(const Root& root, const std::string& path) const {
        if (path == root.path) return ".";
        return path.substr(root.path == "/" ? 1 : root.path.size() + 1);
    }

    void markUnwatchable(const std::string& path) {
        if (unwatchable.insert(path).second) dirty = true;
    }

    void forgetUnwatchableBelow(const std::string& path) {
        if (unwatchable.erase(path) > 0) dirty = true;
        // What lies below sorts together right after path + "/".
        const std::string prefix = path == "/" ? path : path + "/";
        for (auto it = unwatchable.lower_bound(prefix);
             it != unwatchable.end() && it->starts_with(prefix);) {
            it = unwatchable.erase(it);
            dirty = true;
        }
    }

    // Puts a watch on the directory open as fd. Returns the watch and whether it is new.
    std::pair<int, bool> addWatch(int parent, std::string_view name, int fd,
                                  const std::string& path) {
        char proc[48];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
        const int wd = inotify_add_watch(treeFd, proc, kTreeMask);
        if (wd < 0) {
            if (errno == ENOSPC) {
                incomplete = true;
                dirty = true;
                if (!limitReported) gap(Gap::watchLimit, "");
                limitReported = true;
            } else if (errno == EACCES || errno == EPERM) {
                markUnwatchable(path);
            }
            return {-1, false};
        }
        if (unwatchable.erase(path) > 0) dirty = true;
        auto [it, inserted] = watches.try_emplace(wd);
        Watch& w = it->second;
        w.generation = generation;
        if (inserted) {
            w.parent = parent;
            w.name = name;
            watchCount.store(watches.size(), std::memory_order_relaxed);
            return {wd, true};
        }
        // The same directory seen at a new place: follow it, unless that would make it its own
        // ancestor (a bind mount showing a folder inside itself).
        if ((w.parent != parent || w.name != name) && (parent < 0 || !isWithin(parent, wd))) {
            w.parent = parent;
            w.name = name;
        }
        return {wd, false};
    }

    // Watches every directory below the watch `start` that has none yet (all of them when
    // descendKnown is set), staying on the root's file systems and never following links.
    void watchBelow(int start, bool descendKnown) {
        std::vector<int> stack{start};
        while (!stack.empty()) {
            const int wd = stack.back();
            stack.pop_back();
            int rootIndex = 0;
            const auto path = pathOf(wd, rootIndex);
            if (!path) continue;
            const Root& root = roots[static_cast<size_t>(rootIndex)];
            const int fd = detail::openDirectoryBeneath(root.fd, relativeTo(root, *path));
            if (fd < 0) {
                if (errno == EACCES || errno == EPERM) markUnwatchable(*path);
                continue;
            }
            listDirectories(fd, [&](const char* name) {
                const int child = openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (child < 0) {
                    if (errno == EACCES || errno == EPERM) markUnwatchable(join(*path, name));
                    return;
                }
                struct stat st;
                if (fstat(child, &st) == 0 && root.allowed.contains(deviceOf(st))) {
                    const auto [cwd, fresh] = addWatch(wd, name, child, join(*path, name));
                    if (cwd >= 0 && (fresh || descendKnown)) stack.push_back(cwd);
                }
                close(child);
            });
            close(fd);
        }
    }

    // A directory appeared (created or moved in) inside the watch parent.
    void watchChild(int parent, std::string_view name, bool moved) {
        int rootIndex = 0;
        const auto parentPath = pathOf(parent, rootIndex);
        if (!parentPath) return;
        const Root& root = roots[static_cast<size_t>(rootIndex)];
        const std::string path = join(*parentPath, name);
        const int fd = detail::openDirectoryBeneath(root.fd, relativeTo(root, path));
        if (fd < 0) {
            if (errno == EACCES || errno == EPERM) markUnwatchable(path);
            return;
        }
        struct stat st;
        if (fstat(fd, &st) != 0 || !root.allowed.contains(deviceOf(st))) {
            close(fd);
            return;
        }
        const auto [wd, fresh] = addWatch(parent, name, fd, path);
        close(fd);
        if (wd < 0) return;
        if (!fresh) {
            if (moved) watches[wd].reparented = true;
            return;
        }
        watchBelow(wd, false);
    }

    void removeWatches(int top) {
        std::vector<int> doomed;
        for (const auto& [wd, w] : watches)
            if (isWithin(wd, top)) doomed.push_back(wd);
        int rootIndex = 0;
        if (const auto path = pathOf(top, rootIndex)) forgetUnwatchableBelow(*path);
        for (int wd : doomed) {
            if (wd != journalTreeWd) inotify_rm_watch(treeFd, wd);
            watches.erase(wd);
        }
        watchCount.store(watches.size(), std::memory_order_relaxed);
    }

    // After the queue overflowed, watches may be missing (directories created meanwhile) or
    // stale (directories moved or removed meanwhile): walk every root again.
    void rewalk() {
        ++generation;
        for (size_t i = 0; i < roots.size(); ++i) {
            Root& root = roots[i];
            if (root.lost) continue;
            const auto [wd, fresh] =
                addWatch(-1 - static_cast<int>(i), root.path, root.fd, root.path);
            (void)fresh;
            root.treeWd = wd;
            if (wd >= 0) watchBelow(wd, true);
        }
        std::vector<int> stale;
        for (const auto& [wd, w] : watches)
            if (w.generation != generation) stale.push_back(wd);
        for (int wd : stale) {
            if (wd != journalTreeWd) inotify_rm_watch(treeFd, wd);
            watches.erase(wd);
        }
        watchCount.store(watches.size(), std::memory_order_relaxed);
    }

    void handleTreeEvent(const inotify_event& ev) {
        if ((ev.mask & IN_Q_OVERFLOW) != 0) {
            // The gap is written once the watches are whole again, so that no position handed
            // out before then reads as complete; requests may have been among what was dropped.
            rewalk();
            gap(Gap::queueOverflow, "");
            answerWaitingRequests();
            return;
        }
        if (ev.wd == journalTreeWd) {
            // The journal's own folder: never recorded, but where requests arrive.
            if ((ev.mask & IN_CREATE) != 0 && ev.len > 0) answerRequest(ev.name);
            if ((ev.mask & (IN_DELETE | IN_MOVED_FROM)) != 0 && ev.len > 0) {
                lockGone(ev.name);
            }
            if ((ev.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) journalGone = true;
            return;
        }
        const auto it = watches.find(ev.wd);
        if (it == watches.end()) return;
        if ((ev.mask & IN_IGNORED) != 0) {
            if (it->second.parent < 0)
                roots[static_cast<size_t>(-1 - it->second.parent)].treeWd = -1;
            watches.erase(it);
            watchCount.store(watches.size(), std::memory_order_relaxed);
            return;
        }
        const bool top = it->second.parent < 0;
        if ((ev.mask & IN_UNMOUNT) != 0) {
            int rootIndex = 0;
            if (pathOf(ev.wd, rootIndex)) lose(static_cast<size_t>(rootIndex));
            return;
        }
        if ((ev.mask & IN_MOVE_SELF) != 0) {
            // A move inside the watched folders has already re-parented the watch (the kernel
            // queues the destination's event first); anything else left the roots.
            if (top) return;
            if (it->second.reparented) {
                it->second.reparented = false;
            } else {
                removeWatches(ev.wd);
            }
            return;
        }
        if ((ev.mask & IN_DELETE_SELF) != 0) return;
        pendingWds.insert(ev.wd);
        notePending();
        if (ev.len == 0 || (ev.mask & IN_ISDIR) == 0) return;
        const std::string_view name(ev.name);
        if ((ev.mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
            watchChild(ev.wd, name, (ev.mask & IN_MOVED_TO) != 0);
        }
        if ((ev.mask & (IN_ATTRIB | IN_DELETE | IN_MOVED_FROM)) != 0) {
            int rootIndex = 0;
            if (const auto parent = pathOf(ev.wd, rootIndex)) {
                const std::string child = join(*parent, name);
                if ((ev.mask & IN_ATTRIB) != 0) {
                    // A folder's own permissions decide whether it can be listed: look at it.
                    pendingPaths.insert(child);
                    if (unwatchable.contains(child)) watchChild(ev.wd, name, false);
                } else {
                    forgetUnwatchableBelow(child);
                }
            }
        }
    }

    // ---- fanotify ----

    template <typename Fsid>
    static uint64_t fsidKey(const Fsid& fsid) {
        uint64_t key = 0;
        std::memcpy(&key, &fsid, std::min(sizeof key, sizeof fsid));
        return key;
    }

    // `event` points at one event of event.event_len bytes in the read buffer. Events follow one
    // another without padding to the metadata's alignment, so every part is copied out.
    void handleFanotifyEvent(const char* event, const fanotify_event_metadata& md) {
        if ((md.mask & FAN_Q_OVERFLOW) != 0) {
            gap(Gap::queueOverflow, "");
            // Requests may have been among what was dropped.
            answerWaitingRequests();
            return;
        }
        const char* p = event + md.metadata_len;
        const char* end = event + md.event_len;
        while (p + sizeof(fanotify_event_info_header) <= end) {
            fanotify_event_info_header header;
            std::memcpy(&header, p, sizeof header);
            if (header.len == 0 || p + header.len > end) break;
            if (header.info_type != FAN_EVENT_INFO_TYPE_DFID_NAME &&
                header.info_type != FAN_EVENT_INFO_TYPE_DFID) {
                p += header.len;
                continue;
            }
            // fsid, then a file_handle: handle_bytes, handle_type, the bytes; then the name.
            const char* fid = p + sizeof header;
            const char* handle = fid + sizeof(__kernel_fsid_t);
            if (handle + 2 * sizeof(int) > end) break;
            uint64_t fsid = 0;
            std::memcpy(&fsid, fid, std::min(sizeof fsid, sizeof(__kernel_fsid_t)));
            unsigned handleBytes = 0;
            std::memcpy(&handleBytes, handle, sizeof handleBytes);
            const char* bytes = handle + 2 * sizeof(int);
            if (bytes + handleBytes > end) break;
            std::string key(reinterpret_cast<const char*>(&fsid), sizeof fsid);
            key.append(handle + sizeof(int), sizeof(int));
            key.append(bytes, handleBytes);
            const char* rawName = bytes + handleBytes;
            const std::string name =
                header.info_type == FAN_EVENT_INFO_TYPE_DFID_NAME
                    ? std::string(rawName, strnlen(rawName, static_cast<size_t>(end - rawName)))
                    : std::string();
            if (key == journalKey) {
                // The journal's own folder: never recorded, but where requests arrive.
                if ((md.mask & FAN_CREATE) != 0) answerRequest(name);
                if ((md.mask & (FAN_DELETE | FAN_MOVED_FROM)) != 0) lockGone(name);
                break;
            }
            const auto mount = mountFds.find(fsid);
            if (mount == mountFds.end()) break;
            if ((md.mask & FAN_ONDIR) != 0 &&
                (md.mask & (FAN_MOVED_FROM | FAN_MOVED_TO | FAN_DELETE)) != 0) {
                // Cached paths below a moved or removed folder are stale now.
                handlePaths.clear();
            }
            if ((md.mask & FAN_ONDIR) != 0 && (md.mask & FAN_ATTRIB) != 0 && !name.empty() &&
                name != ".") {
                // A folder's own permissions decide whether it can be listed: look at it.
                pendingChildHandles.emplace_back(key, name);
            }
            pendingHandles.emplace(std::move(key), mount->second);
            notePending();
            break;
        }
    }

    std::optional<std::string> resolveHandle(const std::string& key, int mountFd) {
        if (const auto it = handlePaths.find(key); it != handlePaths.end()) return it->second;
        const size_t bytes = key.size() - sizeof(uint64_t) - sizeof(int);
        std::vector<char> storage(sizeof(file_handle) + bytes);
        auto* handle = reinterpret_cast<file_handle*>(storage.data());
        handle->handle_bytes = static_cast<unsigned>(bytes);
        std::memcpy(&handle->handle_type, key.data() + sizeof(uint64_t), sizeof(int));
        std::memcpy(handle->f_handle, key.data() + sizeof(uint64_t) + sizeof(int), bytes);
        const int fd = open_by_handle_at(mountFd, handle, O_PATH | O_CLOEXEC);
        if (fd < 0) return std::nullopt;  // gone: its parent's record covers it
        struct stat st;
        char proc[48];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
        std::string path(PATH_MAX, '\0');
        const ssize_t n =
            fstat(fd, &st) == 0 && st.st_nlink > 0 ? readlink(proc, path.data(), path.size()) : -1;
        close(fd);
        if (n <= 0 || static_cast<size_t>(n) >= path.size() || path[0] != '/') {
            return std::nullopt;
        }
        path.resize(static_cast<size_t>(n));
        if (handlePaths.size() >= kMaxHandleCache) handlePaths.clear();
        handlePaths.emplace(key, path);
        return path;
    }

    // ---- roots ----

    bool attach(size_t i, int& err) {
        Root& root = roots[i];
        root.fd = open(root.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat st;
        if (root.fd < 0 || fstat(root.fd, &st) != 0) {
            err = errno;
            closeFd(root.fd);
            return false;
        }
        root.dev = st.st_dev;
        root.ino = st.st_ino;
        const auto volume = ScanOptions::forVolume(root.path).allowedDevices;
        root.allowed = volume ? *volume : std::set<int32_t>{deviceOf(st)};
        root.allowed.insert(deviceOf(st));
        root.controlWd = inotify_add_watch(controlFd, root.path.c_str(), kRootMask | IN_MASK_ADD);
        if (mode == Mode::inotify) {
            const auto [wd, fresh] =
                addWatch(-1 - static_cast<int>(i), root.path, root.fd, root.path);
            (void)fresh;
            root.treeWd = wd;
            if (wd < 0 && !incomplete) {
                err = errno;
                closeFd(root.fd);
                return false;
            }
            if (wd >= 0) watchBelow(wd, true);
        } else {
            struct statfs sfs;
            if (fstatfs(root.fd, &sfs) != 0 ||
                fanotify_mark(fanFd, FAN_MARK_ADD | FAN_MARK_FILESYSTEM, kFanotifyMask, root.fd,
                              nullptr) != 0) {
                err = errno;
                closeFd(root.fd);
                return false;
            }
            mountFds.try_emplace(fsidKey(sfs.f_fsid), root.fd);
        }
        root.mounts = mountsBelow(root.path, readMountPoints(mountsFd));
        return true;
    }

    void lose(size_t i) {
        Root& root = roots[i];
        if (root.lost) return;
        root.lost = true;
        dirty = true;
        gap(Gap::rootLost, root.path);
        if (mode == Mode::inotify && root.treeWd >= 0 && watches.contains(root.treeWd)) {
            removeWatches(root.treeWd);
        }
        root.treeWd = -1;
        if (root.controlWd >= 0) inotify_rm_watch(controlFd, root.controlWd);
        root.controlWd = -1;
        forgetUnwatchableBelow(root.path);
        closeFd(root.fd);
        // Another root on the same file system may still resolve its handles.
        mountFds.clear();
        for (const auto& other : roots) {
            struct statfs sfs;
            if (other.fd >= 0 && fstatfs(other.fd, &sfs) == 0) {
                mountFds.try_emplace(fsidKey(sfs.f_fsid), other.fd);
            }
        }
    }

    void retryLostRoots() {
        for (size_t i = 0; i < roots.size(); ++i) {
            if (!roots[i].lost) continue;
            struct stat st;
            if (stat(roots[i].path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
            int err = 0;
            if (!attach(i, err)) continue;
            roots[i].lost = false;
            dirty = true;
            // Nothing was recorded while it was away.
            gap(Gap::rootLost, roots[i].path);
        }
    }

    static std::set<std::string> mountsBelow(const std::string& root,
                                             const std::vector<std::string>& points) {
        std::set<std::string> below;
        for (const auto& p : points)
            if (isUnder(p, root)) below.insert(p);
        return below;
    }

    // A root deleted while the recorder holds it open gets no deletion event, and one replaced
    // by another folder none either: look whether each path still leads to the same folder.
    void checkRoots() {
        for (size_t i = 0; i < roots.size(); ++i) {
            Root& root = roots[i];
            struct stat st;
            if (!root.lost && (stat(root.path.c_str(), &st) != 0 || st.st_dev != root.dev ||
                               st.st_ino != root.ino)) {
                lose(i);
            }
        }
    }

    void mountsChanged() {
        checkRoots();
        const auto points = readMountPoints(mountsFd);
        for (size_t i = 0; i < roots.size(); ++i) {
            Root& root = roots[i];
            if (root.lost) continue;
            auto below = mountsBelow(root.path, points);
            if (below != root.mounts) {
                root.mounts = std::move(below);
                gap(Gap::mountsChanged, root.path);
            }
        }
    }

    // ---- the loop ----

    // Reads queued tree events; at least `atLeast` bytes when that many were queued.
    // Returns how many bytes of events it read.
    size_t readTree(size_t atLeast) {
        alignas(8) static thread_local char buffer[kReadBuffer];
        const int fd = mode == Mode::inotify ? treeFd : fanFd;
        size_t consumed = 0;
        // Without a lower bound, read a bounded amount so that requests stay responsive.
        const size_t limit = std::max<size_t>(atLeast, 4u << 20);
        bool drained = false;
        while (consumed < limit && !drained) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            consumed += static_cast<size_t>(n);
            // Room left for a further event means the queue was empty.
            drained = static_cast<size_t>(n) + kLargestEvent <= sizeof buffer;
            if (mode == Mode::inotify) {
                for (ssize_t pos = 0; pos < n;) {
                    const auto* ev = reinterpret_cast<const inotify_event*>(buffer + pos);
                    pos += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                    handleTreeEvent(*ev);
                }
            } else {
                for (ssize_t pos = 0; static_cast<size_t>(n - pos) >= FAN_EVENT_METADATA_LEN;) {
                    fanotify_event_metadata md;
                    std::memcpy(&md, buffer + pos, sizeof md);
                    if (md.event_len < FAN_EVENT_METADATA_LEN || md.event_len > n - pos) break;
                    if (md.vers == FANOTIFY_METADATA_VERSION) handleFanotifyEvent(buffer + pos, md);
                    if (md.fd >= 0) close(md.fd);
                    pos += md.event_len;
                }
            }
        }
        return consumed;
    }

    // Everything queued up to now, including what a request's creation was queued behind.
    void drainTree() {
        int queued = 0;
        const int fd = mode == Mode::inotify ? treeFd : fanFd;
        if (ioctl(fd, FIONREAD, &queued) != 0) queued = 0;
        readTree(static_cast<size_t>(std::max(queued, 0)));
    }

    // Roots deleted, moved or unmounted, and the journal folder going away.
    void readControl() {
        alignas(8) char buffer[kReadBuffer];
        for (;;) {
            const ssize_t n = read(controlFd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            for (ssize_t pos = 0; pos < n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(buffer + pos);
                pos += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                if ((ev->mask & IN_Q_OVERFLOW) != 0) {
                    mountsChanged();  // looks at every root again
                    continue;
                }
                if (ev->wd == journalWd) {
                    journalGone = true;
                    continue;
                }
                for (size_t i = 0; i < roots.size(); ++i) {
                    if (roots[i].controlWd != ev->wd) continue;
                    if ((ev->mask & IN_IGNORED) != 0) roots[i].controlWd = -1;
                    lose(i);
                }
            }
        }
    }

    // Everything seen before the request is written; then the position is the answer, and from
    // here on every changed directory is recorded again.
    void answerRequest(std::string_view name) {
        if (!name.starts_with(ChangeJournal::requestPrefix) ||
            name.ends_with(ChangeJournal::doneSuffix) ||
            name.ends_with(ChangeJournal::failedSuffix)) {
            return;
        }
        // Root and mount changes arrive on queues of their own; whatever of them happened before
        // the request is waiting there already.
        readControl();
        checkRoots();
        pollfd mounts{mountsFd, POLLPRI, 0};
        if (poll(&mounts, 1, 0) > 0 && (mounts.revents & (POLLPRI | POLLERR)) != 0) mountsChanged();
        // Readers trust the state only as the recorder wrote it.
        if (!writer->statePublished()) dirty = true;
        failed = false;
        flush();
        recorded.clear();
        // The answer is a file of the recorder's own, renamed into place complete, so an asker
        // never reads half of it and needs no write access to anything of the recorder's. The
        // request is gone before the answer appears: an asker finds the folder as it left it.
        const std::string request = journalDir + "/" + std::string(name);
        struct stat st;
        if (lstat(request.c_str(), &st) != 0) return;  // the asker gave up
        const std::string temp = journalDir + "/." + std::string(name) + ".answer";
        if (!failed) {
            char answer[17];
            std::snprintf(answer, sizeof answer, "%016llx",
                          static_cast<unsigned long long>(writer->position()));
            const int fd =
                open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
            failed = fd < 0 || write(fd, answer, 16) != 16;
            if (fd >= 0) close(fd);
        }
        if (failed) {
            unlink(temp.c_str());
            rename(request.c_str(), (request + std::string(ChangeJournal::failedSuffix)).c_str());
            return;
        }
        unlink(request.c_str());
        if (rename(temp.c_str(), (request + std::string(ChangeJournal::doneSuffix)).c_str()) != 0) {
            unlink(temp.c_str());
        }
    }

    // Whoever removes the lock (usually with the whole folder, which then reports nothing of its
    // own while the recorder's files are open) lets another recorder start: this one stops.
    void lockGone(std::string_view name) {
        if (name == ChangeJournal::lockFileName) journalGone = true;
    }

    void answerWaitingRequests() {
        std::vector<std::string> names;
        if (DIR* dir = opendir(journalDir.c_str())) {
            while (const dirent* e = readdir(dir))
                names.emplace_back(e->d_name);
            closedir(dir);
        }
        for (const auto& name : names)
            answerRequest(name);
    }

    bool wanted(const std::string& path) const {
        if (isUnder(path, journalDir)) return false;
        for (const auto& root : roots)
            if (!root.lost && isUnder(path, root.path)) return true;
        return false;
    }

    void flush() {
        std::set<std::string> paths = std::move(pendingPaths);
        pendingPaths.clear();
        for (int wd : pendingWds) {
            int rootIndex = 0;
            if (auto path = pathOf(wd, rootIndex)) paths.insert(std::move(*path));
        }
        pendingWds.clear();
        for (const auto& [key, mountFd] : pendingHandles)
            if (auto path = resolveHandle(key, mountFd)) paths.insert(std::move(*path));
        for (const auto& [key, name] : pendingChildHandles) {
            const auto mount = pendingHandles.find(key);
            if (mount == pendingHandles.end()) continue;
            if (auto path = resolveHandle(key, mount->second)) paths.insert(join(*path, name));
        }
        pendingHandles.clear();
        pendingChildHandles.clear();
        firstPending.reset();

        std::vector<std::string> fresh;
        for (auto& path : paths) {
            if (!wanted(path) || recorded.contains(path)) continue;
            fresh.push_back(path);
        }
        if (!fresh.empty()) {
            if (writer->appendChanged(fresh)) {
                if (recorded.size() + fresh.size() > kMaxRecorded) recorded.clear();
                recorded.insert(fresh.begin(), fresh.end());
            } else {
                failed = true;
            }
        }
        if (dirty) publish();
    }

    void publish() {
        for (auto it = unwatchable.begin(); it != unwatchable.end();) {
            struct stat st;
            it = lstat(it->c_str(), &st) != 0 && errno == ENOENT ? unwatchable.erase(it)
                                                                 : std::next(it);
        }
        JournalState state;
        state.pid = getpid();
        state.sessionStart = writer->sessionStart();
        state.mode = mode == Mode::fanotify ? "fanotify" : "inotify";
        for (const auto& root : roots) {
            state.roots.push_back(root.path);
            if (root.lost) state.lostRoots.push_back(root.path);
        }
        state.unwatchable.assign(unwatchable.begin(), unwatchable.end());
        state.incomplete = incomplete;
        state.watchedDirectories = watches.size();
        if (writer->publish(state)) {
            dirty = false;
        } else {
            failed = true;
        }
    }

    bool run(int stopFd) {
        pollfd fds[5];
        for (;;) {
            int timeout = -1;
            const auto now = Clock::now();
            if (firstPending) {
                timeout = static_cast<int>(std::max<int64_t>(
                    0, std::chrono::ceil<std::chrono::milliseconds>(*firstPending +
                                                                    options.flushInterval - now)
                           .count()));
            }
            const bool anyLost =
                std::any_of(roots.begin(), roots.end(), [](const Root& r) { return r.lost; });
            if (anyLost) {
                const int retry = static_cast<int>(options.retryInterval.count());
                timeout = timeout < 0 ? retry : std::min(timeout, retry);
            }
            nfds_t count = 0;
            fds[count++] = {stopEvent, POLLIN, 0};
            fds[count++] = {controlFd, POLLIN, 0};
            fds[count++] = {mode == Mode::inotify ? treeFd : fanFd, POLLIN, 0};
            fds[count++] = {mountsFd, POLLPRI, 0};
            if (stopFd >= 0) fds[count++] = {stopFd, POLLIN, 0};
            const int ready = poll(fds, count, timeout);
            if (ready < 0 && errno != EINTR) return false;
            const bool stopping =
                ready > 0 && ((fds[0].revents & POLLIN) != 0 ||
                              (stopFd >= 0 && (fds[4].revents & (POLLIN | POLLHUP)) != 0));
            if (ready > 0 && (fds[3].revents & (POLLPRI | POLLERR)) != 0) mountsChanged();
            const bool trickle =
                ready > 0 && (fds[2].revents & POLLIN) != 0 && readTree(0) < kSmallRead;
            if (ready > 0 && (fds[1].revents & POLLIN) != 0) readControl();
            if (journalGone) {
                writer.reset();
                return false;
            }
            if (stopping) {
                drainTree();
                flush();
                const bool ok = writer->appendStop();
                publish();
                // Another recorder may take over from here.
                writer.reset();
                return ok;
            }
            const size_t pendingCount =
                pendingWds.size() + pendingPaths.size() + pendingHandles.size();
            if (hasPending() && (pendingCount >= kMaxPending ||
                                 Clock::now() >= *firstPending + options.flushInterval)) {
                flush();
            }
            if (anyLost) retryLostRoots();
            if (dirty && !hasPending()) publish();
            if (trickle) std::this_thread::sleep_for(kGather);
        }
    }
};

JournalRecorder::JournalRecorder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

JournalRecorder::~JournalRecorder() = default;

std::variant<std::unique_ptr<JournalRecorder>, JournalRecorder::StartError> JournalRecorder::start(
    Options options) {
    using Kind = StartError::Kind;
    auto impl = std::make_unique<Impl>();
    if (options.journalDirectory.empty()) {
        options.journalDirectory = ChangeJournal::defaultDirectory();
    }

    std::vector<std::string> real;
    for (const auto& root : options.roots) {
        auto resolved = PathRules::realPath(root);
        if (!resolved) return StartError{Kind::cannotWatch, errno, 0, root};
        real.push_back(std::move(*resolved));
        struct stat st;
        if (stat(real.back().c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            return StartError{Kind::cannotWatch, ENOTDIR, 0, root};
        }
    }
    std::sort(real.begin(), real.end());
    real.erase(std::unique(real.begin(), real.end()), real.end());
    // A root inside another root is already watched through it.
    std::vector<std::string> roots;
    for (const auto& r : real) {
        if (std::none_of(roots.begin(), roots.end(),
                         [&](const std::string& outer) { return isUnder(r, outer); })) {
            roots.push_back(r);
        }
    }
    if (roots.empty()) return StartError{Kind::noRoots, 0, 0, {}};

    auto opened = ChangeJournal::Writer::open(options.journalDirectory, options.limits);
    if (auto* error = std::get_if<ChangeJournal::Writer::OpenError>(&opened)) {
        if (error->kind == ChangeJournal::Writer::OpenError::Kind::alreadyRunning) {
            return StartError{Kind::alreadyRunning, error->errnum, error->otherPid, {}};
        }
        return StartError{Kind::cannotOpenJournal, error->errnum, 0, options.journalDirectory};
    }
    impl->writer = std::move(std::get<0>(opened));
    auto journalReal = PathRules::realPath(options.journalDirectory);
    if (!journalReal)
        return StartError{Kind::cannotOpenJournal, errno, 0, options.journalDirectory};
    impl->journalDir = std::move(*journalReal);

    impl->controlFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    impl->stopEvent = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    impl->mountsFd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (impl->controlFd < 0 || impl->stopEvent < 0 || impl->mountsFd < 0) {
        return StartError{Kind::cannotWatch, errno, 0, "(inotify)"};
    }
    impl->journalWd = inotify_add_watch(impl->controlFd, impl->journalDir.c_str(), kJournalMask);
    if (impl->journalWd < 0) {
        return StartError{Kind::cannotOpenJournal, errno, 0, options.journalDirectory};
    }
    for (const auto& r : roots)
        impl->roots.emplace_back(r);

    const bool tryFanotify = options.mode == Mode::fanotify ||
                             (options.mode == Mode::automatic && hasCapability(CAP_SYS_ADMIN) &&
                              hasCapability(CAP_DAC_READ_SEARCH));
    int err = 0;
    std::string failedRoot;
    if (tryFanotify) {
        impl->mode = Mode::fanotify;
        impl->fanFd =
            fanotify_init(FAN_CLASS_NOTIF | FAN_CLOEXEC | FAN_NONBLOCK | FAN_REPORT_DFID_NAME,
                          O_RDONLY | O_CLOEXEC | O_LARGEFILE);
        bool ok = impl->fanFd >= 0;
        if (!ok) err = errno;
        for (size_t i = 0; ok && i < impl->roots.size(); ++i) {
            ok = impl->attach(i, err);
            if (!ok) failedRoot = impl->roots[i].path;
        }
        // The journal's folder gets a mark of its own so that requests arrive in the same
        // queue as the changes, whatever file system it lies on; its handle tells them apart.
        if (ok) {
            struct statfs sfs;
            std::vector<char> storage(sizeof(file_handle) + MAX_HANDLE_SZ);
            auto* handle = reinterpret_cast<file_handle*>(storage.data());
            handle->handle_bytes = MAX_HANDLE_SZ;
            int mountId = 0;
            ok = statfs(impl->journalDir.c_str(), &sfs) == 0 &&
                 name_to_handle_at(AT_FDCWD, impl->journalDir.c_str(), handle, &mountId, 0) == 0 &&
                 fanotify_mark(impl->fanFd, FAN_MARK_ADD | FAN_MARK_ONLYDIR,
                               FAN_CREATE | FAN_DELETE | FAN_MOVED_FROM, AT_FDCWD,
                               impl->journalDir.c_str()) == 0;
            if (!ok) {
                err = errno;
                failedRoot = impl->journalDir;
            } else {
                const uint64_t fsid = Impl::fsidKey(sfs.f_fsid);
                impl->journalKey.assign(reinterpret_cast<const char*>(&fsid), sizeof fsid);
                impl->journalKey.append(reinterpret_cast<const char*>(&handle->handle_type),
                                        sizeof(int));
                impl->journalKey.append(reinterpret_cast<const char*>(handle->f_handle),
                                        handle->handle_bytes);
            }
        }
        if (!ok) {
            if (options.mode == Mode::fanotify) {
                return StartError{Kind::cannotWatch, err, 0,
                                  failedRoot.empty() ? "(fanotify)" : failedRoot + " (fanotify)"};
            }
            for (auto& root : impl->roots) {
                if (root.controlWd >= 0) inotify_rm_watch(impl->controlFd, root.controlWd);
                closeFd(root.fd);
                std::string path = std::move(root.path);
                root = Impl::Root(std::move(path));
            }
            impl->mountFds.clear();
            closeFd(impl->fanFd);
        }
    }
    if (impl->fanFd < 0) {
        impl->mode = Mode::inotify;
        impl->treeFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (impl->treeFd < 0) return StartError{Kind::cannotWatch, errno, 0, "(inotify)"};
        // Requests arrive in the same queue as the changes (the same watch when the journal
        // lies below a root). Taken first, so that the watch limit cannot deny it.
        impl->journalTreeWd = inotify_add_watch(impl->treeFd, impl->journalDir.c_str(), kTreeMask);
        if (impl->journalTreeWd < 0) {
            return StartError{Kind::cannotOpenJournal, errno, 0, impl->journalDir};
        }
        for (size_t i = 0; i < impl->roots.size(); ++i) {
            if (!impl->attach(i, err)) return StartError{Kind::cannotWatch, err, 0, roots[i]};
        }
    }
    impl->options = std::move(options);
    // The start record goes after the watches: every change after its position is seen.
    if (!impl->writer->begin(roots)) {
        return StartError{Kind::cannotOpenJournal, errno, 0, impl->options.journalDirectory};
    }
    impl->begun = true;
    impl->publish();
    return std::unique_ptr<JournalRecorder>(new JournalRecorder(std::move(impl)));
}

bool JournalRecorder::run(int stopFd) {
    return impl_->writer != nullptr && impl_->run(stopFd);
}

void JournalRecorder::stop() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(impl_->stopEvent, &one, sizeof one);
}

JournalRecorder::Mode JournalRecorder::mode() const {
    return impl_->mode;
}

size_t JournalRecorder::watchedDirectories() const {
    return impl_->watchCount.load(std::memory_order_relaxed);
}

std::vector<std::string> JournalRecorder::roots() const {
    std::vector<std::string> paths;
    for (const auto& r : impl_->roots)
        paths.push_back(r.path);
    return paths;
}

}  // namespace quenwick
