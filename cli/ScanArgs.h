#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "QuenwickCore/FileTree.h"
#include "QuenwickCore/Snapshot.h"
#include "ScanReport.h"

// What `scan` was asked, and the two steps its plain and its administrator scans share. Used on
// the main thread.
namespace brimvale::cli {

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

// Writes the snapshot and the export the arguments ask for; kExitOk or the failure's status.
[[nodiscard]] int saveScanAsAsked(const quenwick::LoadedSnapshot& scanned, const ScanArgs& args);

// Prints the report; a scan that finished with items it could not read gives kExitIncomplete.
[[nodiscard]] int printScanReport(const quenwick::FileTree& tree, const ScanArgs& args,
                                  std::chrono::steady_clock::duration elapsed);

}  // namespace brimvale::cli
