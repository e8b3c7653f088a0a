#include <chrono>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "DesktopModule.h"
#include "HelperKit/AdminScan.h"
#include "HelperKit/HelperIdentity.h"
#include "QtApplication.h"
#include "QuenwickCore/ByteFormat.h"
#include "ScanArgs.h"

namespace brimvale::cli {
namespace {

// The scan through the privileged helper: the helper scans as root and streams the snapshot
// back, stamped with this user's journal position.
int runAdminScan(const ScanArgs& args) {
    const QtApplication qt;
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
    if (const int status = saveScanAsAsked(loaded, args); status != kExitOk) return status;
    return printScanReport(*loaded.tree, args, elapsed);
}

const bool installed = [] {
    desktopHooks().adminScan = runAdminScan;
    return true;
}();

}  // namespace
}  // namespace brimvale::cli
