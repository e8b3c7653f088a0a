#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <iostream>
#include <set>
#include <thread>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "QuenwickCore/JournalRecorder.h"
#include "QuenwickCore/PathRules.h"
#include "QuenwickCore/Snapshot.h"
#include "QuenwickCore/UniqueFd.h"
#include "QuenwickCore/UserFolders.h"
#include "QuenwickCore/Utf8.h"

namespace brimvale::cli {
namespace {

using quenwick::UniqueFd;

struct WatchArgs {
    std::vector<std::string> paths;
    std::string mode = "auto";
    bool quiet = false;
};

std::string snapshotsFolder() {
    return quenwick::userFolders::dataHome() + "/Brimvale/Snapshots";
}

// The roots of the snapshots the app and `scan --save` keep, where they still exist.
std::vector<std::string> snapshotRoots() {
    std::set<std::string> roots;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(snapshotsFolder(), ec)) {
        if (entry.path().extension() != ".qws") continue;
        auto loaded = quenwick::Snapshot::load(entry.path().string(), 2);
        if (const auto* snapshot = std::get_if<quenwick::LoadedSnapshot>(&loaded)) {
            std::error_code exists;
            if (std::filesystem::is_directory(snapshot->meta.rootPath, exists)) {
                roots.insert(snapshot->meta.rootPath);
            }
        }
    }
    return {roots.begin(), roots.end()};
}

// Roots that none of the watched roots holds yet (as real paths).
std::vector<std::string> uncovered(const std::vector<std::string>& roots,
                                   const std::vector<std::string>& watched) {
    std::vector<std::string> out;
    for (const auto& root : roots) {
        const std::string real = quenwick::PathRules::realPath(root).value_or(root);
        const auto holds = [&](const std::string& w) {
            return quenwick::PathRules::isAtOrBelow(real, w);
        };
        if (std::none_of(watched.begin(), watched.end(), holds)) out.push_back(root);
    }
    return out;
}

// One recorder session on a thread of its own; `finished` becomes readable when it ends.
struct Session {
    std::unique_ptr<quenwick::JournalRecorder> recorder;
    UniqueFd finished{eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    bool ok = true;
    std::thread thread;

    void begin() {
        thread = std::thread([this] {
            ok = recorder->run();
            const uint64_t one = 1;
            (void)!write(finished.get(), &one, sizeof one);
        });
    }
    // Stops the recorder (it writes its stop record) and waits for its thread.
    bool end() {
        recorder->stop();
        thread.join();
        recorder.reset();
        return ok;
    }
};

void announce(const quenwick::JournalRecorder& recorder) {
    const bool fanotify = recorder.mode() == quenwick::JournalRecorder::Mode::fanotify;
    std::cout << "Recording changes below";
    for (const auto& root : recorder.roots())
        std::cout << ' ' << terminalText(quenwick::utf8::display(root));
    if (fanotify) {
        std::cout << " (fanotify, whole file systems)";
    } else {
        std::cout << " (inotify, " << recorder.watchedDirectories() << " folders)";
    }
    std::cout << "; stop with Ctrl-C" << std::endl;
}

int runWatch(const WatchArgs& args) {
    quenwick::JournalRecorder::Options options;
    for (const auto& p : args.paths)
        options.roots.push_back(absolutePath(p));
    // Without named folders the roots are those of the saved snapshots, and a snapshot of a new
    // root saved later (by the app or `scan --save`) is watched from then on.
    const bool followSnapshots = options.roots.empty();
    if (followSnapshots) options.roots = snapshotRoots();
    if (options.roots.empty()) {
        return fail("no folders to watch: name them, or save a scan with scan --save first");
    }
    options.mode = args.mode == "inotify"    ? quenwick::JournalRecorder::Mode::inotify
                   : args.mode == "fanotify" ? quenwick::JournalRecorder::Mode::fanotify
                                             : quenwick::JournalRecorder::Mode::automatic;

    // The signals are taken as readable data, so the recorder ends its loop cleanly and leaves a
    // stop record behind.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) return fail("cannot block signals");
    UniqueFd stopFd(signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!stopFd) return fail("cannot receive signals");

    // Snapshots are written to a temporary name and renamed into place.
    UniqueFd snapshotsFd;
    if (followSnapshots) {
        std::error_code ec;
        std::filesystem::create_directories(snapshotsFolder(), ec);
        snapshotsFd.reset(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
        if (!snapshotsFd || inotify_add_watch(snapshotsFd.get(), snapshotsFolder().c_str(),
                                              IN_MOVED_TO | IN_CLOSE_WRITE | IN_ONLYDIR) < 0) {
            return fail("cannot watch the snapshots folder " +
                        terminalText(quenwick::utf8::display(snapshotsFolder())));
        }
    }

    for (;;) {
        Session session;
        auto started = quenwick::JournalRecorder::start(options);
        if (auto* error = std::get_if<quenwick::JournalRecorder::StartError>(&started)) {
            return fail(error->describe());
        }
        session.recorder = std::move(std::get<0>(started));
        if (!args.quiet) announce(*session.recorder);
        const std::vector<std::string> watched = session.recorder->roots();
        session.begin();

        std::vector<std::string> added;
        bool stop = false;
        while (!stop && added.empty()) {
            pollfd fds[3] = {{stopFd.get(), POLLIN, 0},
                             {session.finished.get(), POLLIN, 0},
                             {snapshotsFd ? snapshotsFd.get() : -1, POLLIN, 0}};
            if (poll(fds, 3, -1) < 0) {
                if (errno == EINTR) continue;
                stop = true;
                break;
            }
            if (fds[0].revents != 0 || fds[1].revents != 0) {
                stop = true;
                break;
            }
            if (fds[2].revents != 0) {
                alignas(inotify_event) char buffer[4096];
                while (read(snapshotsFd.get(), buffer, sizeof buffer) > 0) {
                }
                added = uncovered(snapshotRoots(), watched);
            }
        }
        if (!session.end()) {
            return fail("the change journal can no longer be written; recording stopped");
        }
        if (stop) return kExitOk;
        // A new session over all roots: its start record tells readers that nothing before it
        // is known, which is true of the new root.
        for (auto& root : added)
            options.roots.push_back(std::move(root));
    }
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto args = std::make_shared<WatchArgs>();
    auto* cmd = app.add_subcommand(
        "watch", "Record changed folders in the change journal until SIGINT or SIGTERM");
    cmd->add_option("PATH", args->paths,
                    "Folders to watch (default: the roots of the saved snapshots)");
    cmd->add_option("--mode", args->mode,
                    "auto (fanotify when privileged, else inotify), inotify or fanotify")
        ->check(CLI::IsMember({"auto", "inotify", "fanotify"}))
        ->default_val("auto");
    cmd->add_flag("-q,--quiet", args->quiet, "Print nothing when recording starts");
    return [args] { return runWatch(*args); };
});

}  // namespace
}  // namespace brimvale::cli
