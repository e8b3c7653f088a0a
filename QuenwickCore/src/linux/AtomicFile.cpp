#include "QuenwickCore/AtomicFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
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

}  // namespace

std::error_code writeFileAtomically(const std::string& path, std::string_view data) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);

    // Our own random name rather than mkstemp, so the file is created 0644 under the process's
    // umask like any other the user writes (mkstemp would make it 0600).
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temp = folder + "." + name + ".tmp-" + randomSuffix();
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) return lastError();
    }
    if (fd < 0) return lastError();

    std::error_code error;
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
