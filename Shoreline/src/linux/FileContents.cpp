#include "FileContents.h"

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <openssl/evp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

namespace shoreline::detail {
namespace {

constexpr size_t kSample = 65'536;
constexpr unsigned kStatxMask = STATX_TYPE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_ATIME;

FileIdentity identityOf(const struct statx& stx) {
    return {makedev(stx.stx_dev_major, stx.stx_dev_minor), stx.stx_ino, stx.stx_size,
            stx.stx_mtime.tv_sec, stx.stx_mtime.tv_nsec};
}

// An open file that is read without moving its access time: O_NOATIME where the kernel allows
// it (the owner, or a process with CAP_FOWNER). Without it, an access time that our reads moved
// is put back on close where the file system lets us; with it, any change is another reader's
// and stays.
class ReadHandle {
public:
    explicit ReadHandle(const std::string& path) {
        constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY;
        fd_ = ::open(path.c_str(), kFlags | O_NOATIME);
        if (fd_ < 0 && errno == EPERM) {
            noAtime_ = false;
            fd_ = ::open(path.c_str(), kFlags);
        }
        if (fd_ >= 0 && statx(fd_, "", AT_EMPTY_PATH, kStatxMask, &opened_) != 0) close();
    }
    ~ReadHandle() {
        if (fd_ < 0) return;
        struct statx now;
        if (!noAtime_ && statx(fd_, "", AT_EMPTY_PATH, STATX_ATIME, &now) == 0 &&
            (now.stx_atime.tv_sec != opened_.stx_atime.tv_sec ||
             now.stx_atime.tv_nsec != opened_.stx_atime.tv_nsec)) {
            const struct timespec times[2] = {
                {opened_.stx_atime.tv_sec, static_cast<long>(opened_.stx_atime.tv_nsec)},
                {0, UTIME_OMIT}};
            (void)futimens(fd_, times);
        }
        close();
    }
    ReadHandle(const ReadHandle&) = delete;
    ReadHandle& operator=(const ReadHandle&) = delete;

    int fd() const { return fd_; }
    // True when the open file is the regular file that was examined before.
    bool is(const FileIdentity& expected) const {
        return fd_ >= 0 && S_ISREG(opened_.stx_mode) && identityOf(opened_) == expected;
    }
    // True when the file still has the identity it had when opened.
    bool unchanged() const {
        struct statx now;
        return statx(fd_, "", AT_EMPTY_PATH, kStatxMask, &now) == 0 &&
               identityOf(now) == identityOf(opened_);
    }

private:
    void close() {
        ::close(fd_);  // a failed close of a read-only handle loses nothing
        fd_ = -1;
    }
    int fd_ = -1;
    bool noAtime_ = true;
    struct statx opened_ {};
};

// Reads up to n bytes at offset, retrying interrupted and short reads; -1 on failure.
ssize_t readFully(int fd, char* buffer, size_t n, off_t offset) {
    size_t got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd, buffer + got, n - got, offset + static_cast<off_t>(got));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

const EVP_MD* sha256() {
    // Fetched once: an implicit fetch on every digest costs a provider lookup each time.
    static EVP_MD* md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return md != nullptr ? md : EVP_sha256();
}

struct Sha256 {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx{EVP_MD_CTX_new(), EVP_MD_CTX_free};
    bool ok = ctx && EVP_DigestInit_ex(ctx.get(), sha256(), nullptr) == 1;

    void update(const char* data, size_t n) {
        ok = ok && EVP_DigestUpdate(ctx.get(), data, n) == 1;
    }
    std::optional<Digest> finish() {
        Digest d{};
        unsigned int length = 0;
        if (!ok || EVP_DigestFinal_ex(ctx.get(), d.data(), &length) != 1 || length != d.size())
            return std::nullopt;
        return d;
    }
};

}  // namespace

std::optional<FileIdentity> identify(const std::string& path) {
    struct statx stx;
    if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, kStatxMask, &stx) != 0)
        return std::nullopt;
    if (!S_ISREG(stx.stx_mode)) return std::nullopt;
    return identityOf(stx);
}

std::optional<Digest> sampleDigest(const std::string& path, const FileIdentity& expected) {
    ReadHandle file(path);
    if (!file.is(expected)) return std::nullopt;
    char buffer[kSample];
    Sha256 sha;
    const ssize_t head = readFully(file.fd(), buffer, kSample, 0);
    if (head < 0) return std::nullopt;
    sha.update(buffer, static_cast<size_t>(head));
    const uint64_t length = expected.length;
    if (length > kSample) {
        const ssize_t tail =
            readFully(file.fd(), buffer, kSample, static_cast<off_t>(length - kSample));
        if (tail < 0) return std::nullopt;
        sha.update(buffer, static_cast<size_t>(tail));
    }
    if (!file.unchanged()) return std::nullopt;
    return sha.finish();
}

std::optional<ContentDigest> contentDigest(const std::string& path, const FileIdentity& expected,
                                           char* buffer, size_t bufferSize,
                                           const std::function<void(size_t)>& onChunk) {
    ReadHandle file(path);
    if (!file.is(expected)) return std::nullopt;
    (void)posix_fadvise(file.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
    Sha256 sha;
    uint64_t total = 0;
    for (;;) {
        const ssize_t got = readFully(file.fd(), buffer, bufferSize, static_cast<off_t>(total));
        // A failed read must not stand for the end: a digest of part of a file could match
        // another file's.
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        sha.update(buffer, static_cast<size_t>(got));
        total += static_cast<uint64_t>(got);
        if (onChunk) onChunk(static_cast<size_t>(got));
        if (static_cast<size_t>(got) < bufferSize) break;
    }
    if (total != expected.length || !file.unchanged()) return std::nullopt;
    auto digest = sha.finish();
    if (!digest) return std::nullopt;
    return ContentDigest{*digest, hasSharedExtents(file.fd())};
}

bool hasSharedExtents(int fd) {
    constexpr unsigned kBatch = 64;
    std::vector<char> storage(sizeof(fiemap) + kBatch * sizeof(fiemap_extent));
    auto* map = reinterpret_cast<fiemap*>(storage.data());
    uint64_t start = 0;
    for (;;) {
        *map = fiemap{};
        map->fm_start = start;
        map->fm_length = FIEMAP_MAX_OFFSET - start;
        map->fm_extent_count = kBatch;
        if (ioctl(fd, FS_IOC_FIEMAP, map) != 0) return false;
        if (map->fm_mapped_extents == 0) return false;
        for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
            const fiemap_extent& e = map->fm_extents[i];
            if (e.fe_flags & FIEMAP_EXTENT_SHARED) return true;
            if (e.fe_flags & FIEMAP_EXTENT_LAST) return false;
        }
        const fiemap_extent& last = map->fm_extents[map->fm_mapped_extents - 1];
        const uint64_t next = last.fe_logical + last.fe_length;
        if (next <= start) return false;
        start = next;
    }
}

}  // namespace shoreline::detail
