#include <chrono>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "DesktopModule.h"
#include "FolderScan.h"
#include "QuenwickCore/ByteFormat.h"
#include "QuenwickCore/ScanExcludes.h"
#include "QuenwickCore/Snapshot.h"
#include "ScanArgs.h"
#include "ScanReport.h"

namespace brimvale::cli {

int printScanReport(const quenwick::FileTree& tree, const ScanArgs& args,
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

int saveScanAsAsked(const quenwick::LoadedSnapshot& scanned, const ScanArgs& args) {
    int status = kExitOk;
    if (!args.save.empty()) status = saveSnapshotFile(scanned, args.save);
    if (status == kExitOk && !args.exportFile.empty())
        status = saveExportFile(scanned, args.exportFile);
    return status;
}

namespace {

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

int runScan(const ScanArgs& args) {
    if (args.admin) {
        // The helper is reached over the system bus: that part lives in the desktop module.
        if (const int status = loadDesktopModule("scan --admin"); status != kExitOk) return status;
        return desktopHooks().adminScan(args);
    }
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
    if (const int status = saveScanAsAsked(snapshot, args); status != kExitOk) return status;
    return printScanReport(*snapshot.tree, args, elapsed);
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto args = std::make_shared<ScanArgs>();
    auto* cmd = app.add_subcommand(
        "scan",
        "Scan a folder and list the biggest items inside it. Exit status 0 when everything was "
        "read, 3 when the scan finished but some items could not be read (they are listed), 2 "
        "when it failed.");
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
