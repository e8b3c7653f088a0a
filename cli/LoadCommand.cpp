#include <ctime>
#include <iostream>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "FolderScan.h"
#include "QuenwickCore/Snapshot.h"
#include "ScanReport.h"

namespace brimvale::cli {
namespace {

struct LoadArgs {
    std::string file;
    ListingArgs listing;
    bool json = false;
    std::string save;
    std::string exportFile;
};

int runLoad(const LoadArgs& args) {
    const std::string file = absolutePath(args.file);
    auto loaded = loadSnapshotFile(file);
    if (const int* status = std::get_if<int>(&loaded)) return *status;
    const auto& snapshot = std::get<quenwick::LoadedSnapshot>(loaded);
    if (!args.save.empty()) {
        if (const int status = saveSnapshotFile(snapshot, args.save); status != kExitOk)
            return status;
    }
    if (!args.exportFile.empty()) {
        if (const int status = saveExportFile(snapshot, args.exportFile); status != kExitOk)
            return status;
    }
    const auto report = args.listing.reportOf(*snapshot.tree, 0);
    if (args.json) {
        auto json = report.json();
        json.erase("elapsedMs");
        json["scannedAt"] = snapshot.meta.scannedAt;
        json["fsEventID"] = snapshot.meta.fsEventID;
        printJson(json);
    } else {
        // Decoding refuses times that cannot be dates; a calendar that still cannot show one
        // says so rather than crash.
        const auto seconds = static_cast<time_t>(snapshot.meta.scannedAt);
        std::tm local{};
        char when[64] = "at an unknown time";
        if (localtime_r(&seconds, &local) != nullptr) {
            std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
        }
        std::cout << "Snapshot taken " << when << '\n';
        report.print();
    }
    return kExitOk;
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto args = std::make_shared<LoadArgs>();
    auto* cmd = app.add_subcommand(
        "load",
        "Report on a snapshot file, or on an export in ncdu's JSON format (written by "
        "ncdu -o, gdu -o or scan --export), without scanning");
    cmd->add_option("FILE", args->file, "Snapshot file or export")->required();
    cmd->add_option("--save", args->save,
                    "Also write what was loaded as a snapshot file (its folder must exist)");
    cmd->add_option("-o,--export", args->exportFile,
                    "Also write what was loaded in ncdu's JSON export format");
    args->listing.addTo(*cmd);
    cmd->add_flag("--json", args->json, "Print one JSON document");
    return [args] { return runLoad(*args); };
});

}  // namespace
}  // namespace brimvale::cli
