#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "FolderScan.h"
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
    FolderScan request{absolutePath(args.path), args.quiet, std::nullopt, args.workers, 0};
    request.options = quenwick::ScanOptions::forVolume(request.root);
    for (const auto& e : args.excludes)
        request.options->excludedPaths.insert(absolutePath(e));

    // Taken before the scan starts, so changes made during it are caught up later.
    const uint64_t journalPosition = quenwick::FSEventsHistory::currentEventID();
    const double scannedAt =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const auto started = std::chrono::steady_clock::now();
    auto scanned = scanFolder(request);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    if (const int* status = std::get_if<int>(&scanned)) return *status;
    const auto tree = std::get<std::shared_ptr<quenwick::FileTree>>(std::move(scanned));

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
