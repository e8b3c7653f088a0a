#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "QuenwickCore/ChangeJournal.h"
#include "QuenwickCore/ChangeSet.h"
#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/FileTree.h"
#include "QuenwickCore/JournalRecorder.h"
#include "TestSupport.h"

// Shared by the change-journal suites: user folders pointed at a temporary place, a real
// recorder on a thread or in a child process, and a comparison of trees.
namespace quenwick::testing {

// HOME and the XDG folders point into a temporary folder for the fixture's lifetime.
class ScopedUserFolders {
public:
    ScopedUserFolders() {
        for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"}) {
            const char* old = std::getenv(name);
            saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        }
        makeDirs(dir_ / "home");
        set(dir_ / "home", dir_ / "data");
    }
    ~ScopedUserFolders() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }
    // Moves the data folder (and so the journal) somewhere else, e.g. inside a watched tree.
    void set(const std::string& home, const std::string& data) {
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_DATA_HOME", data.c_str(), 1);
        setenv("XDG_CACHE_HOME", (dir_ / "cache").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    }
    const TempDir& dir() const { return dir_; }
    std::string journal() const { return ChangeJournal::defaultDirectory(); }

private:
    TempDir dir_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Runs a whole suite on a tmpfs of its own, in a private mount namespace, when the suite runs as
// root: a recorder that marks a whole file system then sees this suite's changes only, not the
// rest of a busy machine's. Register with ::testing::AddGlobalTestEnvironment.
class PrivateTmpfsEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (geteuid() != 0) return;
        char pattern[] = "/tmp/brimvale-journal-test-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return;
        dir_ = pattern;
        // Still one thread here, so the whole process changes namespace.
        if (unshare(CLONE_NEWNS) != 0 ||
            mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=2g,mode=0755") != 0) {
            return;
        }
        mounted_ = true;
        setenv("TMPDIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
        if (!dir_.empty()) rmdir(dir_.c_str());
    }

private:
    std::string dir_;
    bool mounted_ = false;
};

inline JournalRecorder::Options recorderOptions(std::vector<std::string> roots,
                                                JournalRecorder::Mode mode) {
    JournalRecorder::Options options;
    options.roots = std::move(roots);
    options.mode = mode;
    options.flushInterval = std::chrono::milliseconds(20);
    options.retryInterval = std::chrono::milliseconds(50);
    return options;
}

// A recorder running on a thread of the test process.
class RecorderThread {
public:
    explicit RecorderThread(JournalRecorder::Options options) {
        auto started = JournalRecorder::start(std::move(options));
        if (auto* error = std::get_if<JournalRecorder::StartError>(&started)) {
            error_ = *error;
            return;
        }
        recorder_ = std::move(std::get<0>(started));
        thread_ = std::jthread([this] { result_ = recorder_->run() ? 1 : 0; });
    }
    ~RecorderThread() { stop(); }

    bool started() const { return recorder_ != nullptr; }
    const std::optional<JournalRecorder::StartError>& error() const { return error_; }
    JournalRecorder& recorder() { return *recorder_; }

    // Stops it and returns what run() returned.
    bool stop() {
        if (recorder_ && thread_.joinable()) {
            recorder_->stop();
            thread_.join();
        }
        return result_ == 1;
    }
    // True once run() has returned by itself.
    bool endsWithin(std::chrono::milliseconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (result_ < 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return result_ >= 0;
    }

private:
    std::optional<JournalRecorder::StartError> error_;
    std::unique_ptr<JournalRecorder> recorder_;
    std::atomic<int> result_{-1};
    std::jthread thread_;
};

// A recorder in a child process, so that a test can stop it with SIGSTOP, or run it with other
// privileges or limits (set up by `prepare` in the child before the recorder starts).
class RecorderProcess {
public:
    explicit RecorderProcess(JournalRecorder::Options options,
                             const std::function<bool()>& prepare = nullptr) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            const auto say = [&](const std::string& text) {
                [[maybe_unused]] auto n = write(fds[1], text.data(), text.size());
            };
            sigset_t stop;
            sigemptyset(&stop);
            sigaddset(&stop, SIGTERM);
            sigprocmask(SIG_BLOCK, &stop, nullptr);
            const int stopFd = signalfd(-1, &stop, SFD_CLOEXEC);
            if (prepare && !prepare()) {
                say("prepare failed");
                _exit(4);
            }
            auto started = JournalRecorder::start(std::move(options));
            if (auto* error = std::get_if<JournalRecorder::StartError>(&started)) {
                say("error: " + error->describe());
                _exit(2);
            }
            auto& recorder = *std::get<0>(started);
            say(recorder.mode() == JournalRecorder::Mode::fanotify ? "ready fanotify"
                                                                   : "ready inotify");
            close(fds[1]);
            _exit(recorder.run(stopFd) ? 0 : 3);
        }
        close(fds[1]);
        pollfd pfd{fds[0], POLLIN, 0};
        if (poll(&pfd, 1, 60000) == 1) {
            char buf[512];
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n > 0) status_.assign(buf, static_cast<size_t>(n));
        }
        close(fds[0]);
    }
    ~RecorderProcess() { stop(); }

    bool ready() const { return status_.starts_with("ready"); }
    const std::string& status() const { return status_; }
    pid_t pid() const { return pid_; }
    void pause() { kill(pid_, SIGSTOP); }
    void resume() { kill(pid_, SIGCONT); }

    // Stops it cleanly; returns its exit status (0 when it wrote its stop record).
    int stop() {
        if (pid_ <= 0) return -1;
        kill(pid_, SIGCONT);
        kill(pid_, SIGTERM);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    std::string status_;
};

// What a tree says about every live node: path to (size, flags).
using TreeSummary = std::map<std::string, std::pair<uint64_t, uint16_t>>;

inline TreeSummary summarise(const FileTree& tree) {
    TreeSummary summary;
    std::vector<FileTree::Node> stack{FileTree::root};
    while (!stack.empty()) {
        const auto n = stack.back();
        stack.pop_back();
        summary[tree.path(n)] = {tree.size(n), tree.flags(n).rawValue()};
        for (auto c = tree.firstChild(n); c != FileTree::none; c = tree.nextSibling(c))
            stack.push_back(c);
    }
    return summary;
}

// The differences between two summaries, one line each, for a readable failure.
inline std::string differences(const TreeSummary& expected, const TreeSummary& actual) {
    std::ostringstream out;
    for (const auto& [path, value] : expected) {
        const auto it = actual.find(path);
        if (it == actual.end()) {
            out << "missing " << path << '\n';
        } else if (it->second != value) {
            out << "differs " << path << ": size " << it->second.first << " (want " << value.first
                << "), flags " << it->second.second << " (want " << value.second << ")\n";
        }
    }
    for (const auto& [path, value] : actual)
        if (!expected.contains(path)) out << "extra " << path << '\n';
    return out.str();
}

inline std::shared_ptr<FileTree> freshScan(const std::string& root) {
    return DiskScanner(ScanOptions::forVolume(root), 2).scan(root);
}

inline bool touchFile(const std::string& path, size_t bytes = 0) {
    return writeFileOfSize(path, bytes);
}

inline bool appendToFile(const std::string& path, size_t bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return false;
    const std::string data(bytes, 'y');
    const bool ok = write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
    close(fd);
    return ok;
}

}  // namespace quenwick::testing

namespace quenwick {

inline void PrintTo(const ChangeSet& changes, std::ostream* out) {
    if (changes.needsFullRescan()) {
        *out << "fullRescanNeeded";
        return;
    }
    *out << "directories{";
    for (size_t i = 0; i < changes.paths().size(); ++i)
        *out << (i ? ", " : "") << changes.paths()[i];
    *out << "}";
}

}  // namespace quenwick
