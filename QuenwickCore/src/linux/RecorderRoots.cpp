#include "RecorderImpl.h"

namespace quenwick {

using namespace recorder;

// Mount points as the kernel lists them, with the octal escapes of the mount table undone.
std::vector<std::string> recorder::readMountPoints(int fd) {
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

bool JournalRecorder::Impl::attach(size_t i, int& err) {
    Root& root = roots[i];
    root.fd.reset(open(root.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (!root.fd || fstat(root.fd.get(), &st) != 0) {
        err = errno;
        root.fd.reset();
        return false;
    }
    root.dev = st.st_dev;
    root.ino = st.st_ino;
    const auto volume = ScanOptions::forVolume(root.path).allowedDevices;
    root.allowed = volume ? *volume : std::set<int32_t>{deviceOf(st)};
    root.allowed.insert(deviceOf(st));
    root.controlWd = inotify_add_watch(controlFd.get(), root.path.c_str(), kRootMask | IN_MASK_ADD);
    if (mode == Mode::inotify) {
        const auto [wd, fresh] =
            addWatch(-1 - static_cast<int>(i), root.path, root.fd.get(), root.path);
        (void)fresh;
        root.treeWd = wd;
        if (wd < 0 && !incomplete) {
            err = errno;
            root.fd.reset();
            return false;
        }
        if (wd >= 0) watchBelow(wd, true);
    } else {
        struct statfs sfs;
        if (fstatfs(root.fd.get(), &sfs) != 0 ||
            fanotify_mark(fanFd.get(), FAN_MARK_ADD | FAN_MARK_FILESYSTEM, kFanotifyMask,
                          root.fd.get(), nullptr) != 0) {
            err = errno;
            root.fd.reset();
            return false;
        }
        mountFds.try_emplace(fsidKey(sfs.f_fsid), root.fd.get());
    }
    root.mounts = mountsBelow(root.path, readMountPoints(mountsFd.get()));
    return true;
}

void JournalRecorder::Impl::lose(size_t i) {
    Root& root = roots[i];
    if (root.lost) return;
    root.lost = true;
    dirty = true;
    gap(Gap::rootLost, root.path);
    if (mode == Mode::inotify && root.treeWd >= 0 && watches.contains(root.treeWd)) {
        removeWatches(root.treeWd);
    }
    root.treeWd = -1;
    if (root.controlWd >= 0) inotify_rm_watch(controlFd.get(), root.controlWd);
    root.controlWd = -1;
    forgetUnwatchableBelow(root.path);
    root.fd.reset();
    // Another root on the same file system may still resolve its handles.
    mountFds.clear();
    for (const auto& other : roots) {
        struct statfs sfs;
        if (other.fd.valid() && fstatfs(other.fd.get(), &sfs) == 0) {
            mountFds.try_emplace(fsidKey(sfs.f_fsid), other.fd.get());
        }
    }
}

void JournalRecorder::Impl::retryLostRoots() {
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

std::set<std::string> JournalRecorder::Impl::mountsBelow(const std::string& root,
                                                         const std::vector<std::string>& points) {
    std::set<std::string> below;
    for (const auto& p : points)
        if (isUnder(p, root)) below.insert(p);
    return below;
}

// A root deleted while the recorder holds it open gets no deletion event, and one replaced
// by another folder none either: look whether each path still leads to the same folder.
void JournalRecorder::Impl::checkRoots() {
    for (size_t i = 0; i < roots.size(); ++i) {
        Root& root = roots[i];
        struct stat st;
        if (!root.lost &&
            (stat(root.path.c_str(), &st) != 0 || st.st_dev != root.dev || st.st_ino != root.ino)) {
            lose(i);
        }
    }
}

void JournalRecorder::Impl::mountsChanged() {
    checkRoots();
    const auto points = readMountPoints(mountsFd.get());
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

}  // namespace quenwick
