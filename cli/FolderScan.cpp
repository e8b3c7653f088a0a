#include "FolderScan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "CliSupport.h"
#include "QuenwickCore/ByteFormat.h"
#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/SnapshotScan.h"

namespace brimvale::cli {

std::variant<quenwick::LoadedSnapshot, int> scanFolderForSnapshot(const FolderScan& request) {
    const std::string& root = request.root;
    struct stat st;
    if (stat(root.c_str(), &st) != 0) {
        return fail("cannot scan " + root + ": " + std::strerror(errno));
    }
    if (!S_ISDIR(st.st_mode)) return fail("cannot scan " + root + ": not a folder");

    const int workers =
        request.workers > 0 ? request.workers : quenwick::DiskScanner::defaultWorkers();
    quenwick::DiskScanner scanner(request.options.value_or(quenwick::ScanOptions::forVolume(root)),
                                  workers);
    ProgressLine progress(request.quiet);
    auto scanned = quenwick::SnapshotScan::scan(
        scanner, root, request.expectedCount, [&](const quenwick::ScanProgress& p) {
            progress.update("Scanning " + std::to_string(p.files) + " files, " +
                            quenwick::formatBytes(p.bytes));
        });
    progress.finish();
    if (scanned.tree->flags(quenwick::FileTree::root).contains(quenwick::NodeFlags::unreadable)) {
        return fail(unreadableRootMessage(root));
    }
    return scanned;
}

std::variant<std::shared_ptr<quenwick::FileTree>, int> scanFolder(const FolderScan& request) {
    auto scanned = scanFolderForSnapshot(request);
    if (const int* status = std::get_if<int>(&scanned)) return *status;
    return std::get<quenwick::LoadedSnapshot>(std::move(scanned)).tree;
}

std::variant<std::shared_ptr<quenwick::FileTree>, int> scanFolder(const std::string& root,
                                                                  bool quiet, int workers) {
    FolderScan request;
    request.root = root;
    request.quiet = quiet;
    request.workers = workers;
    return scanFolder(request);
}

std::string unreadableRootMessage(const std::string& root) {
    const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int err = fd < 0 ? errno : EIO;
    if (fd >= 0) close(fd);
    return "cannot read " + root + ": " + std::strerror(err);
}

std::variant<quenwick::LoadedSnapshot, int> loadSnapshotFile(const std::string& file,
                                                             unsigned threads) {
    auto loaded = quenwick::Snapshot::load(file, threads);
    if (auto* error = std::get_if<quenwick::SnapshotFileError>(&loaded)) {
        return fail("cannot load " + file + ": " + error->describe());
    }
    return std::get<quenwick::LoadedSnapshot>(std::move(loaded));
}

}  // namespace brimvale::cli
