#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "QuenwickCore/ByteFormat.h"
#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/FSEventsHistory.h"
#include "QuenwickCore/Snapshot.h"
#include "ScanReport.h"

namespace brimvale::cli {
namespace {

struct ScanArgs {
    std::string path;
    int top = 20;
    std::vector<std::string> excludes;
    std::string save;
    int workers = 0;
    bool json = false;
    bool quiet = false;
};

int runScan(const ScanArgs& args) {
    const std::string root = absolutePath(args.path);
    struct stat st;
    if (stat(root.c_str(), &st) != 0) {
        return fail("cannot scan " + root + ": " + std::strerror(errno));
    }
    if (!S_ISDIR(st.st_mode)) return fail("cannot scan " + root + ": not a folder");

    quenwick::ScanOptions options = quenwick::ScanOptions::forVolume(root);
    for (const auto& e : args.excludes)
        options.excludedPaths.insert(absolutePath(e));
    const int workers = args.workers > 0 ? args.workers : quenwick::DiskScanner::defaultWorkers();
    quenwick::DiskScanner scanner(options, workers);

    ProgressLine progress(args.quiet);
    // Taken before the scan starts, so changes made during it are caught up later.
    const uint64_t journalPosition = quenwick::FSEventsHistory::currentEventID();
    const double scannedAt =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const auto started = std::chrono::steady_clock::now();
    auto tree = scanner.scan(root, 0, [&](const quenwick::ScanProgress& p) {
        progress.update("Scanning " + std::to_string(p.files) + " files, " +
                        quenwick::formatBytes(p.bytes));
    });
    const auto elapsed = std::chrono::steady_clock::now() - started;
    progress.finish();

    if (tree->flags(quenwick::FileTree::root).contains(quenwick::NodeFlags::unreadable)) {
        const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int err = fd < 0 ? errno : EIO;
        if (fd >= 0) close(fd);
        return fail("cannot read " + root + ": " + std::strerror(err));
    }
    if (!args.save.empty()) {
        const std::string file = absolutePath(args.save);
        const quenwick::SnapshotMeta meta{tree->rootPath(), scannedAt, journalPosition};
        if (auto error = quenwick::Snapshot::save(*tree, meta, file, 2)) {
            return fail("cannot save " + file + ": " + error->describe());
        }
    }
    ScanReport report{*tree, args.top,
                      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()};
    if (args.json) {
        printJson(report.json());
    } else {
        report.print();
    }
    return kExitOk;
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto args = std::make_shared<ScanArgs>();
    auto* cmd = app.add_subcommand("scan", "Scan a folder and list the biggest items inside it");
    cmd->add_option("PATH", args->path, "Folder to scan")->required();
    cmd->add_option("--top", args->top, "How many of the biggest items to list")
        ->default_val(20)
        ->check(CLI::NonNegativeNumber);
    cmd->add_option("--exclude", args->excludes, "Leave this path out (repeatable)");
    cmd->add_option("--save", args->save, "Also write the scan as a snapshot file");
    cmd->add_option("--workers", args->workers, "Parallel workers (default: one per core)")
        ->check(CLI::PositiveNumber);
    cmd->add_flag("--json", args->json, "Print one JSON document");
    cmd->add_flag("--quiet", args->quiet, "No progress on standard error");
    return [args] { return runScan(*args); };
});

}  // namespace
}  // namespace brimvale::cli
