#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Real trees in temporary folders, and forked children for what a test must not do in its own
// process: dropping privileges, or mounting a file system in a private mount namespace.
namespace quenwick::testing {

// A fresh folder under $TMPDIR (or /tmp), world-traversable so a child that dropped privileges
// can reach it; removed with everything inside (permissions restored first) on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(std::string_view relative) const;

private:
    std::string path_;
};

// Small file-system helpers; each aborts the test (via ADD_FAILURE and a false result) on failure.
bool makeDirs(const std::string& path);
bool writeFile(const std::string& path, std::string_view contents);
bool writeFileOfSize(const std::string& path, size_t bytes);
// Removes a tree without following links (test cleanup; permissions restored as it goes).
void removeTree(const std::string& path);

// Runs body in a forked child and returns what it returned, or nothing when the child failed,
// crashed or did not report. The body must not rely on gtest assertions.
std::optional<std::string> runInChild(const std::function<std::string()>& body);

// In a child: become uid/gid 65534 when running as root. True when the process is unprivileged.
bool dropPrivileges();

// In a child: enter a private mount namespace (with a user namespace when not root) and mount a
// tmpfs on dir with the given mount options. True on success.
bool mountPrivateTmpfs(const std::string& dir, const std::string& options = "size=64m,mode=0755");

// In a child, as root: format a sparse image file of `bytes` in imageDir with the mkfs command
// (the image's path is appended), enter a private mount namespace and mount it on dir through a
// loop device that is freed when the namespace ends. False when any step fails.
bool mountPrivateImage(const std::string& dir, const std::string& imageDir, const std::string& mkfs,
                       int64_t bytes);

// In a child: enter a private mount namespace (as mountPrivateTmpfs) and bind-mount source on
// target. True on success.
bool bindMountPrivately(const std::string& source, const std::string& target);

// In a child, as root: enter a private mount namespace and mount a fresh btrfs (a sparse image
// file in imageDir, on a loop device that is freed when the namespace ends) on dir, for tests
// of extents shared between files. False when mkfs.btrfs, loop devices or btrfs are missing.
bool mountPrivateBtrfs(const std::string& dir, const std::string& imageDir);

// Runs work on this thread while another thread, already running when work starts, calls cancel
// after delay: for races between a cancel and the end of the work it would cut short. Returns how
// long work took.
std::chrono::microseconds raceCancel(std::chrono::microseconds delay,
                                     const std::function<void()>& cancel,
                                     const std::function<void()>& work);

// True when the kernel lets this process make the namespaces mountPrivateTmpfs needs (probed
// once in a child). Tests that need a second file system skip themselves otherwise.
bool canMountPrivateTmpfs();

}  // namespace quenwick::testing
