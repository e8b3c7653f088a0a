#pragma once

// The recorder's inner state, shared by the files that keep its parts: the inotify tree
// (RecorderInotify.cpp), the fanotify marks (RecorderFanotify.cpp), the roots and the mount watch
// (RecorderRoots.cpp) and the loop that reads events and writes the journal (RecorderLoop.cpp).
// Everything here runs on the recorder's one thread, except watchCount, which other threads read.

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
#include "QuenwickCore/UniqueFd.h"
#include "linux/LinuxDirent64.h"
#include "linux/OpenDirectory.h"

namespace quenwick {
namespace recorder {

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

constexpr auto isUnder = PathRules::isAtOrBelow;
using PathRules::join;

inline int32_t deviceOf(const struct stat& st) {
    return encodeDevice(major(st.st_dev), minor(st.st_dev));
}

inline bool hasCapability(int cap) {
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
[[nodiscard]] std::vector<std::string> readMountPoints(int fd);

}  // namespace recorder

struct JournalRecorder::Impl {
    using Clock = recorder::Clock;
    using Gap = recorder::Gap;

    struct Root {
        explicit Root(std::string p) : path(std::move(p)) {}
        std::string path;
        UniqueFd fd;
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
    UniqueFd controlFd;
    int journalWd = -1;      // in the control instance
    int journalTreeWd = -1;  // in the tree instance, where requests arrive in order
    bool journalGone = false;
    UniqueFd treeFd;
    UniqueFd fanFd;
    UniqueFd stopEvent;
    UniqueFd mountsFd;
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

    // The inotify tree (RecorderInotify.cpp)
    std::optional<std::string> pathOf(int wd, int& rootIndex) const;
    bool isWithin(int wd, int ancestor) const;
    std::string relativeTo(const Root& root, const std::string& path) const;
    void markUnwatchable(const std::string& path);
    void forgetUnwatchableBelow(const std::string& path);
    // Puts a watch on the directory open as fd. Returns the watch and whether it is new.
    std::pair<int, bool> addWatch(int parent, std::string_view name, int fd,
                                  const std::string& path);
    // Watches every directory below the watch `start` that has none yet (all of them when
    // descendKnown is set), staying on the root's file systems and never following links.
    void watchBelow(int start, bool descendKnown);
    // A directory appeared (created or moved in) inside the watch parent.
    void watchChild(int parent, std::string_view name, bool moved);
    void removeWatches(int top);
    // After the queue overflowed, watches may be missing (directories created meanwhile) or
    // stale (directories moved or removed meanwhile): walk every root again.
    void rewalk();
    void handleTreeEvent(const inotify_event& ev);

    // Fanotify (RecorderFanotify.cpp)
    template <typename Fsid>
    static uint64_t fsidKey(const Fsid& fsid) {
        uint64_t key = 0;
        std::memcpy(&key, &fsid, std::min(sizeof key, sizeof fsid));
        return key;
    }
    // `event` points at one event of event.event_len bytes in the read buffer. Events follow one
    // another without padding to the metadata's alignment, so every part is copied out.
    void handleFanotifyEvent(const char* event, const fanotify_event_metadata& md);
    std::optional<std::string> resolveHandle(const std::string& key, int mountFd);

    // Roots (RecorderRoots.cpp)
    bool attach(size_t i, int& err);
    void lose(size_t i);
    void retryLostRoots();
    static std::set<std::string> mountsBelow(const std::string& root,
                                             const std::vector<std::string>& points);
    // A root deleted while the recorder holds it open gets no deletion event, and one replaced
    // by another folder none either: look whether each path still leads to the same folder.
    void checkRoots();
    void mountsChanged();

    // The loop (RecorderLoop.cpp)
    // Reads queued tree events; at least `atLeast` bytes when that many were queued.
    // Returns how many bytes of events it read.
    size_t readTree(size_t atLeast);
    // Everything queued up to now, including what a request's creation was queued behind.
    void drainTree();
    // Roots deleted, moved or unmounted, and the journal folder going away.
    void readControl();
    // Everything seen before the request is written; then the position is the answer, and from
    // here on every changed directory is recorded again.
    void answerRequest(std::string_view name);
    // Whoever removes the lock (usually with the whole folder, which then reports nothing of its
    // own while the recorder's files are open) lets another recorder start: this one stops.
    void lockGone(std::string_view name);
    void answerWaitingRequests();
    bool wanted(const std::string& path) const;
    void flush();
    void publish();
    bool run(int stopFd);
};

}  // namespace quenwick
