#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <set>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "QuenwickCore/JournalRecorder.h"
#include "QuenwickCore/Snapshot.h"
#include "QuenwickCore/UserFolders.h"
#include "QuenwickCore/Utf8.h"

namespace brimvale::cli {
namespace {

struct WatchArgs {
    std::vector<std::string> paths;
    std::string mode = "auto";
    bool quiet = false;
};

// The roots of the snapshots the app and `scan --save` keep, where they still exist.
std::vector<std::string> snapshotRoots() {
    std::set<std::string> roots;
    const std::string folder = quenwick::userFolders::dataHome() + "/Brimvale/Snapshots";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
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

int runWatch(const WatchArgs& args) {
    quenwick::JournalRecorder::Options options;
    for (const auto& p : args.paths)
        options.roots.push_back(absolutePath(p));
    if (options.roots.empty()) options.roots = snapshotRoots();
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
    const int stopFd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (stopFd < 0) return fail("cannot receive signals");

    auto started = quenwick::JournalRecorder::start(options);
    if (auto* error = std::get_if<quenwick::JournalRecorder::StartError>(&started)) {
        close(stopFd);
        return fail(error->describe());
    }
    auto& recorder = *std::get<0>(started);
    if (!args.quiet) {
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
    const bool ok = recorder.run(stopFd);
    close(stopFd);
    if (!ok) return fail("the change journal can no longer be written; recording stopped");
    return kExitOk;
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
