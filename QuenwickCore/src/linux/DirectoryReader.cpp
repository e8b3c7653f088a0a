#include "QuenwickCore/DirectoryReader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "linux/LinuxDirent64.h"

namespace quenwick {
namespace {

constexpr unsigned kStatxMask =
    STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_INO | STATX_MTIME | STATX_BLOCKS;
constexpr int kStatxFlags = AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC | AT_NO_AUTOMOUNT;

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

DirectoryReader::DirectoryReader() : buffer_(new unsigned char[bufferSize]) {}

DirectoryReader::Result DirectoryReader::read(int fd) {
    entries_.clear();
    nameOffsets_.clear();
    names_.clear();
    for (;;) {
        const long got = syscall(SYS_getdents64, fd, buffer_.get(), bufferSize);
        if (got < 0) {
            const int err = errno;
            entries_.clear();
            return ReadError{err};
        }
        if (got == 0) break;
        for (long pos = 0; pos < got;) {
            const auto* d = reinterpret_cast<const LinuxDirent64*>(buffer_.get() + pos);
            pos += d->d_reclen;
            if (isDotOrDotDot(d->d_name)) continue;

            DirEntry e;
            struct statx stx;
            if (statx(fd, d->d_name, kStatxFlags, kStatxMask, &stx) == 0) {
                const unsigned type = stx.stx_mode & S_IFMT;
                e.isDir = type == S_IFDIR;
                e.isSymlink = type == S_IFLNK;
                e.mtime = stx.stx_mtime.tv_sec;
                e.inode = stx.stx_ino;
                e.device = encodeDevice(stx.stx_dev_major, stx.stx_dev_minor);
#ifdef STATX_ATTR_MOUNT_ROOT
                e.mountRoot =
                    (stx.stx_attributes_mask & stx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
#endif
                if (!e.isDir) {
                    e.allocSize = static_cast<uint64_t>(stx.stx_blocks) * 512;
                    e.linkCount = stx.stx_nlink;
                }
            } else {
                // The entry vanished or cannot be examined: keep what the listing itself knows.
                e.error = errno;
                e.isDir = d->d_type == DT_DIR;
                e.isSymlink = d->d_type == DT_LNK;
                e.inode = d->d_ino;
            }
            nameOffsets_.push_back(static_cast<uint32_t>(names_.size()));
            names_.append(d->d_name);
            entries_.push_back(e);
        }
    }
    // Names are only pinned down once the buffer of names has stopped growing.
    for (size_t i = 0; i < entries_.size(); ++i) {
        const size_t end = i + 1 < entries_.size() ? nameOffsets_[i + 1] : names_.size();
        entries_[i].name = std::string_view(names_).substr(nameOffsets_[i], end - nameOffsets_[i]);
    }
    return std::span<const DirEntry>(entries_);
}

}  // namespace quenwick
