#include <chrono>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "FolderScan.h"
#include "HelperKit/AdminScan.h"
#include "HelperKit/HelperIdentity.h"
#include "QuenwickCore/ByteFormat.h"
#include "QuenwickCore/ScanExcludes.h"
#include "QuenwickCore/Snapshot.h"
#include "ScanReport.h"

namespace brimvale::cli {
namespace {

struct ScanArgs {
    std::string path;
    ListingArgs listing;
    std::vector<std::string> excludes;
    std::vector<std::string> excludeFiles;
    std::string save;
    std::string exportFile;
    int workers = 0;
    bool json = false;
    bool quiet = false;
    bool admin = false;
};

// Prints the report; a scan that finished with items it could not read exits kExitIncomplete.
int printReport(const quenwick::FileTree& tree, const ScanArgs& args,
                std::chrono::steady_clock::duration elapsed) {
    const auto report = args.listing.reportOf(
        tree, std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
    if (args.json) {
        printJson(report.json());
    } else {
        report.print();
    }
    return report.unreadable().empty() ? kExitOk : kExitIncomplete;
}

void saveIfAsked(const quenwick::LoadedSnapshot& scanned, const ScanArgs& args, int& status) {
    if (!args.save.empty()) status = saveSnapshotFile(scanned, args.save);
    if (status == kExitOk && !args.exportFile.empty())
        status = saveExportFile(scanned, args.exportFile);
}

std::variant<quenwick::ScanExcludes, int> readExcludes(const ScanArgs& args) {
    quenwick::ScanExcludes excludes;
    const auto addValue = [&](const std::string& value, const std::string& from) -> bool {
        const std::string why = excludes.add(value, absolutePath(value));
        if (why.empty()) return true;
        fail(from + value + ": " + why);
        return false;
    };
    for (const auto& file : args.excludeFiles) {
        auto values = quenwick::ScanExcludes::readFile(absolutePath(file));
        if (const auto* why = std::get_if<std::string>(&values)) {
            return fail("--exclude-from " + file + ": " + *why);
        }
        for (const auto& value : std::get<std::vector<std::string>>(values)) {
            if (!addValue(value, "--exclude-from " + file + ": ")) return kExitFailed;
        }
    }
    for (const auto& value : args.excludes) {
        if (!addValue(value, "--exclude ")) return kExitFailed;
    }
    for (const auto& missing : excludes.missingPaths()) {
        warn("--exclude " + missing +
             ": nothing there to leave out (a value without \"/\" is matched against names)");
    }
    return excludes;
}

// The scan through the privileged helper: the helper scans as root and streams the snapshot
// back, stamped with this user's journal position.
int runAdminScan(const ScanArgs& args) {
    const std::string root = absolutePath(args.path);
    const auto started = std::chrono::steady_clock::now();
    ProgressLine progress(args.quiet);
    auto scanned = helperkit::AdminScan::run(
        root, helperkit::HelperIdentity::installedBuild(), [&](int64_t files, int64_t bytes) {
            if (bytes < 0) return;
            progress.update("Scanning " + std::to_string(files) + " files, " +
                            quenwick::formatBytes(uint64_t(bytes)));
        });
    progress.finish();
    if (auto* error = std::get_if<helperkit::AdminScanError>(&scanned)) {
        return fail(error->describe());
    }
    const auto& loaded = std::get<quenwick::LoadedSnapshot>(scanned);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    int status = kExitOk;
    saveIfAsked(loaded, args, status);
    if (status != kExitOk) return status;
    return printReport(*loaded.tree, args, elapsed);
}

int runScan(const ScanArgs& args) {
    if (args.admin) return runAdminScan(args);
    FolderScan request{absolutePath(args.path), args.quiet, std::nullopt, args.workers, 0};
    request.options = quenwick::ScanOptions::forVolume(request.root);
    auto excludes = readExcludes(args);
    if (const int* status = std::get_if<int>(&excludes)) return *status;
    std::get<quenwick::ScanExcludes>(excludes).applyTo(*request.options);

    const auto started = std::chrono::steady_clock::now();
    auto scanned = scanFolderForSnapshot(request);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    if (const int* status = std::get_if<int>(&scanned)) return *status;
    const auto& snapshot = std::get<quenwick::LoadedSnapshot>(scanned);
    int status = kExitOk;
    saveIfAsked(snapshot, args, status);
    if (status != kExitOk) return status;
    return printReport(*snapshot.tree, args, elapsed);
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto args = std::make_shared<ScanArgs>();
    auto* cmd = app.add_subcommand("scan", "Scan a folder and list the biggest items inside it");
    cmd->add_option("PATH", args->path, "Folder to scan")->required();
    args->listing.addTo(*cmd);
    auto* exclude =
        cmd->add_option("-e,--exclude", args->excludes,
                        "Leave out a path (a value with a \"/\", absolute or relative to the "
                        "working folder) or every entry whose name matches a shell pattern "
                        "(\"*.o\", \"node_modules\", \"[Cc]ache\"); one value each, repeatable")
            ->allow_extra_args(false);
    auto* excludeFrom = cmd->add_option("--exclude-from", args->excludeFiles,
                                        "Read excludes from FILE, one per line (blank lines and "
                                        "lines starting with \"#\" are skipped); repeatable")
                            ->allow_extra_args(false);
    cmd->add_option("--save", args->save,
                    "Also write the scan as a snapshot file (its folder must exist)");
    cmd->add_option("-o,--export", args->exportFile,
                    "Also write the scan in ncdu's JSON export format, which ncdu -f and gdu -f "
                    "open (its folder must exist)");
    auto* workers = addWorkersOption(*cmd, args->workers);
    cmd->add_flag("--json", args->json, "Print one JSON document");
    addQuietFlag(*cmd, args->quiet);
    cmd->add_flag("--admin", args->admin,
                  "Scan as administrator through the installed helper service")
        ->excludes(exclude)
        ->excludes(excludeFrom)
        ->excludes(workers);
    return [args] { return runScan(*args); };
});

}  // namespace
}  // namespace brimvale::cli
