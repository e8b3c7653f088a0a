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

int openOne(int baseFd, const char* path) {
    if (!openat2Missing.load(std::memory_order_relaxed)) {
        open_how how{};
        how.flags = static_cast<uint64_t>(kDirFlags);
        how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const long fd = syscall(SYS_openat2, baseFd, path, &how, sizeof how);
        if (fd >= 0 || errno != ENOSYS) return static_cast<int>(fd);
        openat2Missing.store(true, std::memory_order_relaxed);
    }
    // Without openat2 only the last component is protected; the walk below covers the rest.
    return openat(baseFd, path, kDirFlags);
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
