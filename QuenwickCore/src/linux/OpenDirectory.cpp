#include "OpenDirectory.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <string>

#include "QuenwickCore/DirEntry.h"

namespace quenwick::detail {
namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW;

std::atomic<bool> openat2Missing{false};

// The whole path in one call, or -1 with ENOSYS when the kernel has no openat2 (the caller then
// walks the path itself).
int openOne(int baseFd, const char* path) {
    {
        open_how how{};
        how.flags = static_cast<uint64_t>(kDirFlags);
        // Beneath the base as well: a ".." in a path from a tree (a hostile snapshot's names)
        // must not climb above the folder being scanned.
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const long fd = syscall(SYS_openat2, baseFd, path, &how, sizeof how);
        if (fd < 0 && errno == ENOSYS) openat2Missing.store(true, std::memory_order_relaxed);
        return static_cast<int>(fd);
    }
}

}  // namespace

int openDirectoryBeneath(int baseFd, std::string_view relative) {
    if (relative.size() < PATH_MAX - 1 && !openat2Missing.load(std::memory_order_relaxed)) {
        const std::string path(relative);
        const int fd = openOne(baseFd, path.c_str());
        if (fd >= 0 || errno != ENOSYS) return fd;
    }
    // Component by component: deep trees can exceed PATH_MAX, and each step refuses links.
    int current = dup(baseFd);
    if (current < 0) return -1;
    size_t pos = 0;
    while (pos < relative.size()) {
        auto slash = relative.find('/', pos);
        if (slash == std::string_view::npos) slash = relative.size();
        const std::string piece(relative.substr(pos, slash - pos));
        pos = slash + 1;
        if (piece.empty() || piece == ".") continue;
        if (piece == "..") {
            close(current);
            errno = EXDEV;  // as openat2 answers a path that leaves the base
            return -1;
        }
        const int next = openat(current, piece.c_str(), kDirFlags);
        const int saved = errno;
        close(current);
        if (next < 0) {
            errno = saved;
            return -1;
        }
        current = next;
    }
    return current;
}

bool deviceOf(int fd, int& device) {
    struct stat st;
    if (fstat(fd, &st) != 0) return false;
    device = encodeDevice(major(st.st_dev), minor(st.st_dev));
    return true;
}

}  // namespace quenwick::detail
