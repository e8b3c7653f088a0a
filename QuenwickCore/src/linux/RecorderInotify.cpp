#include "RecorderImpl.h"

namespace quenwick {

using namespace recorder;

std::optional<std::string> JournalRecorder::Impl::pathOf(int wd, int& rootIndex) const {
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

bool JournalRecorder::Impl::isWithin(int wd, int ancestor) const {
    int current = wd;
    for (size_t guard = 0; guard <= watches.size(); ++guard) {
        if (current == ancestor) return true;
        const auto it = watches.find(current);
        if (it == watches.end() || it->second.parent < 0) return false;
        current = it->second.parent;
    }
    return false;
}

std::string JournalRecorder::Impl::relativeTo(const Root& root, const std::string& path) const {
    if (path == root.path) return ".";
    return path.substr(root.path == "/" ? 1 : root.path.size() + 1);
}

void JournalRecorder::Impl::markUnwatchable(const std::string& path) {
    if (unwatchable.insert(path).second) dirty = true;
}

void JournalRecorder::Impl::forgetUnwatchableBelow(const std::string& path) {
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
std::pair<int, bool> JournalRecorder::Impl::addWatch(int parent, std::string_view name, int fd,
                                                     const std::string& path) {
    char proc[48];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    const int wd = inotify_add_watch(treeFd.get(), proc, kTreeMask);
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
void JournalRecorder::Impl::watchBelow(int start, bool descendKnown) {
    std::vector<int> stack{start};
    while (!stack.empty()) {
        const int wd = stack.back();
        stack.pop_back();
        int rootIndex = 0;
        const auto path = pathOf(wd, rootIndex);
        if (!path) continue;
        const Root& root = roots[static_cast<size_t>(rootIndex)];
        const int fd = detail::openDirectoryBeneath(root.fd.get(), relativeTo(root, *path));
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
void JournalRecorder::Impl::watchChild(int parent, std::string_view name, bool moved) {
    int rootIndex = 0;
    const auto parentPath = pathOf(parent, rootIndex);
    if (!parentPath) return;
    const Root& root = roots[static_cast<size_t>(rootIndex)];
    const std::string path = join(*parentPath, name);
    const int fd = detail::openDirectoryBeneath(root.fd.get(), relativeTo(root, path));
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

void JournalRecorder::Impl::removeWatches(int top) {
    std::vector<int> doomed;
    for (const auto& [wd, w] : watches)
        if (isWithin(wd, top)) doomed.push_back(wd);
    int rootIndex = 0;
    if (const auto path = pathOf(top, rootIndex)) forgetUnwatchableBelow(*path);
    for (int wd : doomed) {
        if (wd != journalTreeWd) inotify_rm_watch(treeFd.get(), wd);
        watches.erase(wd);
    }
    watchCount.store(watches.size(), std::memory_order_relaxed);
}

// After the queue overflowed, watches may be missing (directories created meanwhile) or
// stale (directories moved or removed meanwhile): walk every root again.
void JournalRecorder::Impl::rewalk() {
    ++generation;
    for (size_t i = 0; i < roots.size(); ++i) {
        Root& root = roots[i];
        if (root.lost) continue;
        const auto [wd, fresh] =
            addWatch(-1 - static_cast<int>(i), root.path, root.fd.get(), root.path);
        (void)fresh;
        root.treeWd = wd;
        if (wd >= 0) watchBelow(wd, true);
    }
    std::vector<int> stale;
    for (const auto& [wd, w] : watches)
        if (w.generation != generation) stale.push_back(wd);
    for (int wd : stale) {
        if (wd != journalTreeWd) inotify_rm_watch(treeFd.get(), wd);
        watches.erase(wd);
    }
    watchCount.store(watches.size(), std::memory_order_relaxed);
}

void JournalRecorder::Impl::handleTreeEvent(const inotify_event& ev) {
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
        if (it->second.parent < 0) roots[static_cast<size_t>(-1 - it->second.parent)].treeWd = -1;
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

}  // namespace quenwick
