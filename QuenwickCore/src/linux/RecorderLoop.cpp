#include "RecorderImpl.h"

namespace quenwick {

using namespace recorder;

// Reads queued tree events; at least `atLeast` bytes when that many were queued.
// Returns how many bytes of events it read.
size_t JournalRecorder::Impl::readTree(size_t atLeast) {
    alignas(8) static thread_local char buffer[kReadBuffer];
    const int fd = mode == Mode::inotify ? treeFd.get() : fanFd.get();
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
void JournalRecorder::Impl::drainTree() {
    int queued = 0;
    const int fd = mode == Mode::inotify ? treeFd.get() : fanFd.get();
    if (ioctl(fd, FIONREAD, &queued) != 0) queued = 0;
    readTree(static_cast<size_t>(std::max(queued, 0)));
}

// Roots deleted, moved or unmounted, and the journal folder going away.
void JournalRecorder::Impl::readControl() {
    alignas(8) char buffer[kReadBuffer];
    for (;;) {
        const ssize_t n = read(controlFd.get(), buffer, sizeof buffer);
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
void JournalRecorder::Impl::answerRequest(std::string_view name) {
    if (!name.starts_with(ChangeJournal::requestPrefix) ||
        name.ends_with(ChangeJournal::doneSuffix) || name.ends_with(ChangeJournal::failedSuffix)) {
        return;
    }
    // Root and mount changes arrive on queues of their own; whatever of them happened before
    // the request is waiting there already.
    readControl();
    checkRoots();
    pollfd mounts{mountsFd.get(), POLLPRI, 0};
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
void JournalRecorder::Impl::lockGone(std::string_view name) {
    if (name == ChangeJournal::lockFileName) journalGone = true;
}

void JournalRecorder::Impl::answerWaitingRequests() {
    std::vector<std::string> names;
    if (DIR* dir = opendir(journalDir.c_str())) {
        while (const dirent* e = readdir(dir))
            names.emplace_back(e->d_name);
        closedir(dir);
    }
    for (const auto& name : names)
        answerRequest(name);
}

bool JournalRecorder::Impl::wanted(const std::string& path) const {
    if (isUnder(path, journalDir)) return false;
    for (const auto& root : roots)
        if (!root.lost && isUnder(path, root.path)) return true;
    return false;
}

void JournalRecorder::Impl::flush() {
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

void JournalRecorder::Impl::publish() {
    for (auto it = unwatchable.begin(); it != unwatchable.end();) {
        struct stat st;
        it =
            lstat(it->c_str(), &st) != 0 && errno == ENOENT ? unwatchable.erase(it) : std::next(it);
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

bool JournalRecorder::Impl::run(int stopFd) {
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
        fds[count++] = {stopEvent.get(), POLLIN, 0};
        fds[count++] = {controlFd.get(), POLLIN, 0};
        fds[count++] = {mode == Mode::inotify ? treeFd.get() : fanFd.get(), POLLIN, 0};
        fds[count++] = {mountsFd.get(), POLLPRI, 0};
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
        const size_t pendingCount = pendingWds.size() + pendingPaths.size() + pendingHandles.size();
        if (hasPending() && (pendingCount >= kMaxPending ||
                             Clock::now() >= *firstPending + options.flushInterval)) {
            flush();
        }
        if (anyLost) retryLostRoots();
        if (dirty && !hasPending()) publish();
        if (trickle) std::this_thread::sleep_for(kGather);
    }
}

}  // namespace quenwick
