#include "TestSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace quenwick::testing {
namespace {

bool writeText(const char* path, const std::string& text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

}  // namespace

TempDir::TempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/brimvale-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed: " << std::strerror(errno);
        return;
    }
    path_ = buf.data();
    chmod(path_.c_str(), 0755);
}

TempDir::~TempDir() {
    if (!path_.empty()) removeTree(path_);
}

std::string TempDir::operator/(std::string_view relative) const {
    return path_ + "/" + std::string(relative);
}

bool makeDirs(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec) ADD_FAILURE() << "create_directories " << path << ": " << ec.message();
    return !ec;
}

bool writeFile(const std::string& path, std::string_view contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out) ADD_FAILURE() << "cannot write " << path;
    return static_cast<bool>(out);
}

bool writeFileOfSize(const std::string& path, size_t bytes) {
    return writeFile(path, std::string(bytes, 'x'));
}

namespace {

// Descriptor-relative, so trees deeper than PATH_MAX and unreadable folders go too.
void removeBelow(int dirFd) {
    const int fd = dup(dirFd);
    if (fd < 0) return;
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return;
    }
    std::vector<std::pair<std::string, bool>> entries;
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        entries.emplace_back(name, e->d_type == DT_DIR);
    }
    closedir(dir);
    for (const auto& [name, isDir] : entries) {
        if (unlinkat(dirFd, name.c_str(), 0) == 0) continue;
        fchmodat(dirFd, name.c_str(), 0700, 0);
        const int child =
            openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child >= 0) {
            removeBelow(child);
            close(child);
        }
        unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
    }
}

}  // namespace

void removeTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (!S_ISDIR(st.st_mode)) {
        unlink(path.c_str());
        return;
    }
    chmod(path.c_str(), 0700);
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        removeBelow(fd);
        close(fd);
    }
    rmdir(path.c_str());
}

std::optional<std::string> runInChild(const std::function<std::string()>& body) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
    const pid_t pid = fork();
    if (pid < 0) return std::nullopt;
    if (pid == 0) {
        close(fds[0]);
        const std::string out = body();
        size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = write(fds[1], out.data() + done, out.size() - done);
            if (n <= 0) _exit(3);
            done += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string result;
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        result.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return result;
}

bool dropPrivileges() {
    if (geteuid() != 0) return true;
    return setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0 &&
           geteuid() == 65534;
}

namespace {

bool enterPrivateMountNamespace() {
    if (geteuid() == 0) {
        if (unshare(CLONE_NEWNS) != 0) return false;
    } else {
        const uid_t uid = geteuid();
        const gid_t gid = getegid();
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
        writeText("/proc/self/setgroups", "deny");
        if (!writeText("/proc/self/uid_map",
                       std::to_string(uid) + " " + std::to_string(uid) + " 1"))
            return false;
        if (!writeText("/proc/self/gid_map",
                       std::to_string(gid) + " " + std::to_string(gid) + " 1"))
            return false;
    }
    return mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

}  // namespace

bool mountPrivateTmpfs(const std::string& dir, const std::string& options) {
    if (!enterPrivateMountNamespace()) return false;
    return mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

bool bindMountPrivately(const std::string& source, const std::string& target) {
    if (!enterPrivateMountNamespace()) return false;
    return mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

bool mountPrivateImage(const std::string& dir, const std::string& imageDir, const std::string& mkfs,
                       int64_t bytes) {
    if (geteuid() != 0) return false;
    const std::string image = imageDir + "/volume.img";
    const int fd = open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool sized = ftruncate(fd, bytes) == 0;  // stays sparse
    close(fd);
    if (!sized) return false;
    const std::string format = mkfs + " '" + image + "' >/dev/null 2>&1";
    if (std::system(format.c_str()) != 0) return false;
    if (unshare(CLONE_NEWNS) != 0) return false;
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    // mount(8) sets up the loop device with autoclear, so it goes with this namespace.
    const std::string loop = "mount -o loop '" + image + "' '" + dir + "' >/dev/null 2>&1";
    return std::system(loop.c_str()) == 0;
}

bool mountPrivateBtrfs(const std::string& dir, const std::string& imageDir) {
    // btrfs refuses images below about 110 MiB.
    return mountPrivateImage(dir, imageDir, "mkfs.btrfs -q", 128 << 20);
}

std::chrono::microseconds raceCancel(std::chrono::microseconds delay,
                                     const std::function<void()>& cancel,
                                     const std::function<void()>& work) {
    // Starting a thread can take milliseconds on a busy machine: the work begins only once the
    // canceller is running, so the delay is measured from the work's start.
    std::atomic<bool> ready{false};
    std::atomic<bool> go{false};
    std::thread canceller([&] {
        ready = true;
        while (!go.load())
            std::this_thread::yield();
        // Spun, not slept: a sleep oversleeps by tens of microseconds, longer than some work.
        const auto deadline = std::chrono::steady_clock::now() + delay;
        while (std::chrono::steady_clock::now() < deadline) {
        }
        cancel();
    });
    while (!ready.load())
        std::this_thread::yield();
    go = true;
    const auto started = std::chrono::steady_clock::now();
    work();
    const auto took = std::chrono::steady_clock::now() - started;
    canceller.join();
    return std::chrono::duration_cast<std::chrono::microseconds>(took);
}

bool canMountPrivateTmpfs() {
    static const bool can = [] {
        TempDir dir;
        return runInChild([&] { return mountPrivateTmpfs(dir.path()) ? "yes" : "no"; }) ==
               std::optional<std::string>("yes");
    }();
    return can;
}

}  // namespace quenwick::testing
