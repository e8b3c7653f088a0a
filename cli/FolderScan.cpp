#include "FolderScan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "QuenwickCore/ByteFormat.h"
#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/NcduExport.h"
#include "QuenwickCore/PathRules.h"
#include "QuenwickCore/Snapshot.h"
#include "QuenwickCore/SnapshotRefresh.h"
#include "QuenwickCore/SnapshotScan.h"
#include "QuenwickCore/UniqueFd.h"

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

int saveSnapshotFile(const quenwick::LoadedSnapshot& snapshot, const std::string& argument) {
    const std::string file = absolutePath(argument);
    if (const auto why = missingFolder(file)) return fail("cannot save " + file + ": " + *why);
    if (auto error = quenwick::Snapshot::save(*snapshot.tree, snapshot.meta, file, 2))
        return fail("cannot save " + file + ": " + error->describe());
    return kExitOk;
}

int saveExportFile(const quenwick::LoadedSnapshot& snapshot, const std::string& argument) {
    const std::string file = absolutePath(argument);
    if (const auto why = missingFolder(file)) return fail("cannot export to " + file + ": " + *why);
    const auto error =
        quenwick::NcduExport::save(*snapshot.tree, int64_t(snapshot.meta.scannedAt), file);
    if (!error.empty()) return fail("cannot export to " + file + ": " + error);
    return kExitOk;
}

std::optional<std::string> missingFolder(const std::string& file) {
    const std::string folder(quenwick::PathRules::parentOf(file));
    struct stat st;
    if (stat(folder.c_str(), &st) == 0) return std::nullopt;
    return "the folder " + folder + " does not exist";
}

std::string unreadableRootMessage(const std::string& root) {
    return quenwick::unreadableRootText(root, quenwick::whyUnreadable(root));
}

bool isExportFile(const std::string& file) {
    char head[64] = {};
    const quenwick::UniqueFd fd(open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) return false;
    const ssize_t n = read(fd.get(), head, sizeof head);
    return n > 0 && quenwick::NcduExport::looksLikeExport(std::string_view(head, size_t(n)));
}

std::variant<quenwick::LoadedSnapshot, int> loadSnapshotFile(const std::string& file,
                                                             unsigned threads) {
    if (isExportFile(file)) {
        auto imported = quenwick::NcduExport::load(file);
        if (auto* why = std::get_if<std::string>(&imported))
            return fail("cannot load " + file + ": " + *why);
        return std::get<quenwick::LoadedSnapshot>(std::move(imported));
    }
    auto loaded = quenwick::Snapshot::load(file, threads);
    if (auto* error = std::get_if<quenwick::SnapshotFileError>(&loaded)) {
        return fail("cannot load " + file + ": " + error->describe());
    }
    return std::get<quenwick::LoadedSnapshot>(std::move(loaded));
}

}  // namespace brimvale::cli
