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
#include "HelperKit/HelperClient.h"
#include "HelperKit/HelperIdentity.h"
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
    bool admin = false;
};

int printReport(const quenwick::FileTree& tree, const ScanArgs& args,
                std::chrono::steady_clock::duration elapsed) {
    ScanReport report{tree, args.top,
                      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()};
    if (args.json) {
        printJson(report.json());
    } else {
        report.print();
    }
    return kExitOk;
}

// The scan through the privileged helper: the helper scans as root and streams the snapshot
// back; the journal position stored with it is this user's, taken just before asking.
int runAdminScan(const ScanArgs& args) {
    const std::string root = absolutePath(args.path);
    const std::string build = helperkit::HelperIdentity::installedBuild();
    {
        auto probe = helperkit::HelperClient::privileged();
        if (auto error = probe->handshake(build)) {
            return fail("administrator scan isn't available: " + error->describe());
        }
    }

    const uint64_t journalPosition = quenwick::FSEventsHistory::currentEventID();
    const auto started = std::chrono::steady_clock::now();
    ProgressLine progress(args.quiet);
    auto client = helperkit::HelperClient::privileged();
    auto received = client->scan(root, [&](int64_t files, int64_t bytes) {
        if (bytes < 0) return;
        progress.update("Scanning " + std::to_string(files) + " files, " +
                        quenwick::formatBytes(uint64_t(bytes)));
    });
    client->invalidate();
    progress.finish();
    if (auto* error = std::get_if<helperkit::HelperError>(&received)) {
        return fail("administrator scan of " + root + " failed: " + error->describe());
    }
    auto decoded = quenwick::Snapshot::decode(std::get<std::vector<uint8_t>>(received), 2);
    if (auto* error = std::get_if<quenwick::SnapshotError>(&decoded)) {
        return fail("administrator scan of " + root + " arrived damaged: " + error->describe());
    }
    const auto& loaded = std::get<quenwick::LoadedSnapshot>(decoded);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    if (loaded.tree->flags(quenwick::FileTree::root).contains(quenwick::NodeFlags::unreadable)) {
        return fail("cannot read " + root + " even as administrator");
    }

    if (!args.save.empty()) {
        const std::string file = absolutePath(args.save);
        const quenwick::SnapshotMeta meta{loaded.meta.rootPath, loaded.meta.scannedAt,
                                          journalPosition};
        if (auto error = quenwick::Snapshot::save(*loaded.tree, meta, file, 2)) {
            return fail("cannot save " + file + ": " + error->describe());
        }
    }
    return printReport(*loaded.tree, args, elapsed);
}

int runScan(const ScanArgs& args) {
    if (args.admin) return runAdminScan(args);
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
    return printReport(*tree, args, elapsed);
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto args = std::make_shared<ScanArgs>();
    auto* cmd = app.add_subcommand("scan", "Scan a folder and list the biggest items inside it");
    cmd->add_option("PATH", args->path, "Folder to scan")->required();
    cmd->add_option("--top", args->top, "How many of the biggest items to list")
        ->default_val(20)
        ->check(CLI::NonNegativeNumber);
    auto* exclude =
        cmd->add_option("--exclude", args->excludes, "Leave this path out (repeatable)");
    cmd->add_option("--save", args->save, "Also write the scan as a snapshot file");
    auto* workers =
        cmd->add_option("--workers", args->workers, "Parallel workers (default: one per core)")
            ->check(CLI::PositiveNumber);
    cmd->add_flag("--json", args->json, "Print one JSON document");
    cmd->add_flag("--quiet", args->quiet, "No progress on standard error");
    cmd->add_flag("--admin", args->admin,
                  "Scan as administrator through the installed helper service")
        ->excludes(exclude)
        ->excludes(workers);
    return [args] { return runScan(*args); };
});

}  // namespace
}  // namespace brimvale::cli
