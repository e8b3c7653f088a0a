#include "QuenwickCore/AtomicFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

namespace quenwick {
namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

std::string randomSuffix() {
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    uint64_t bits = 0;
    if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != sizeof bits) {
        bits = static_cast<uint64_t>(getpid()) * 0x9E3779B97F4A7C15ull ^
               reinterpret_cast<uintptr_t>(&bits);
    }
    std::string suffix;
    for (int i = 0; i < 10; ++i) {
        suffix += kDigits[bits % 36];
        bits /= 36;
    }
    return suffix;
}

// The file a chain of symbolic links at path leads to (path itself when it is no link). Stops
// after as many links as the kernel follows; the last name reached is returned either way.
std::string linkTarget(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        std::string target(4096, '\0');
        const ssize_t n = readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size()) break;
        target.resize(static_cast<size_t>(n));
        if (target.front() != '/') {
            const auto slash = path.rfind('/');
            target =
                (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + target;
        }
        path = std::move(target);
    }
    return path;
}

}  // namespace

std::error_code writeFileAtomically(const std::string& requested, std::string_view data,
                                    mode_t newFileMode) {
    // Renaming over a link would put a plain file in its place; the link's target is replaced.
    const std::string path = linkTarget(requested);
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    struct stat existing;
    const bool replacing = stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);

    // Our own random name rather than mkstemp, so the mode is ours to choose.
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temp = folder + "." + name + ".tmp-" + randomSuffix();
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                  replacing ? 0600 : newFileMode);
        if (fd < 0 && errno != EEXIST) return lastError();
    }
    if (fd < 0) return lastError();

    std::error_code error;
    if (replacing && fchmod(fd, existing.st_mode & 07777) != 0) error = lastError();
    for (size_t written = 0; !error && written < data.size();) {
        const ssize_t n = write(fd, data.data() + written, data.size() - written);
        if (n < 0) {
            if (errno != EINTR) error = lastError();
        } else {
            written += static_cast<size_t>(n);
        }
    }
    if (!error && fsync(fd) != 0) error = lastError();
    if (close(fd) != 0 && !error) error = lastError();
    if (!error && rename(temp.c_str(), path.c_str()) != 0) error = lastError();
    if (error) {
        unlink(temp.c_str());
        return error;
    }
    // Make the rename itself durable; a failure here still leaves a complete file.
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return {};
}

std::error_code createPrivateFolders(const std::string& folder) {
    if (folder.empty()) return {};
    std::string path;
    size_t at = 0;
    while (at <= folder.size()) {
        const size_t slash = folder.find('/', at);
        const size_t end = slash == std::string::npos ? folder.size() : slash;
        path = folder.substr(0, end);
        at = end + 1;
        if (path.empty() || path == "." || path == "..") continue;
        if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return lastError();
    }
    struct stat st;
    if (stat(folder.c_str(), &st) != 0) return lastError();
    if (!S_ISDIR(st.st_mode)) return std::make_error_code(std::errc::not_a_directory);
    return {};
}

std::optional<std::string> setAsideDamaged(const std::string& path) {
    for (int n = 1; n <= 1000; ++n) {
        const std::string aside = path + ".damaged" + (n == 1 ? "" : "-" + std::to_string(n));
        if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0)
            return aside;
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace quenwick
