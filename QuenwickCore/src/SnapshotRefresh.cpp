#include "QuenwickCore/SnapshotRefresh.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "QuenwickCore/FSEventsHistory.h"
#include "QuenwickCore/SnapshotScan.h"
#include "QuenwickCore/UniqueFd.h"

namespace quenwick {
namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

}  // namespace

int whyUnreadable(const std::string& root) {
    const UniqueFd fd(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd ? EIO : errno;
}

std::string unreadableRootText(const std::string& root, int errnum) {
    return "cannot read " + root + ": " + std::strerror(errnum);
}

std::string RefreshError::describe() const {
    switch (kind) {
        case Kind::cannotLoad:
            return "cannot load " + file + ": " + (fileError ? fileError->describe() : "");
        case Kind::unreadableRoot:
            return unreadableRootText(root, errnum) + "; " + file + " left as it was";
        case Kind::cannotSave:
            return "cannot save " + file + ": " + (fileError ? fileError->describe() : "");
        case Kind::cancelled:
            return "refresh of " + file + " cancelled; left as it was";
        case Kind::otherRoot:
            return file + " is a snapshot of another folder than " + root;
        case Kind::needsFullScan:
            return "the change journal cannot say what changed below " + root;
    }
    return "cannot refresh " + file;
}

SnapshotRefresh::SnapshotRefresh(RefreshOptions options) : options_(options) {}

void SnapshotRefresh::cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    if (scanner_ != nullptr) scanner_->cancel();
}

bool SnapshotRefresh::cancelled() const {
    if (options_.control != nullptr && options_.control->cancelRequested()) return true;
    std::lock_guard lock(mutex_);
    return cancelled_;
}

std::variant<RefreshResult, RefreshError> SnapshotRefresh::run(const std::string& file) {
    // A cancel counts for this run (also when it came before), and only for this one.
    struct Finish {
        SnapshotRefresh& self;
        ~Finish() {
            std::lock_guard lock(self.mutex_);
            self.scanner_ = nullptr;
            self.cancelled_ = false;
        }
    } finish{*this};
    auto result = refresh(file);
    // However the run ended, a control hears that it is over.
    if (options_.control != nullptr) options_.control->markFinished();
    return result;
}

std::variant<RefreshResult, RefreshError> SnapshotRefresh::refresh(const std::string& file) {
    using Kind = RefreshError::Kind;

    RefreshResult result;
    const auto loadStart = Clock::now();
    auto loaded = Snapshot::load(file, options_.threads);
    if (auto* error = std::get_if<SnapshotFileError>(&loaded)) {
        return RefreshError{Kind::cannotLoad, file, {}, 0, *error};
    }
    auto snapshot = std::get<LoadedSnapshot>(std::move(loaded));
    result.loadTime = since(loadStart);
    result.before = snapshot.meta;
    const std::string root = snapshot.tree->rootPath();
    if (options_.expectedRoot &&
        (root != *options_.expectedRoot || snapshot.meta.rootPath != *options_.expectedRoot))
        return RefreshError{Kind::otherRoot, file, *options_.expectedRoot, 0, std::nullopt};
    result.bytesBefore = snapshot.tree->size(FileTree::root);

    const auto catchUpStart = Clock::now();
    DiskScanner scanner(ScanOptions::forVolume(root), options_.workers, options_.progressInterval);
    if (cancelled()) return RefreshError{Kind::cancelled, file, {}, 0, std::nullopt};
    {
        std::lock_guard lock(mutex_);
        scanner_ = &scanner;
    }
    // Taken before the journal is read: what changes from here on is caught up next time.
    result.meta = SnapshotScan::stampBefore(root);
    const auto changes =
        FSEventsHistory::changedDirectories(root, snapshot.meta.fsEventID, options_.journalTimeout);
    result.fullRescan = changes.needsFullRescan();
    if (result.fullRescan && !options_.fullScanAllowed)
        return RefreshError{Kind::needsFullScan, file, root, 0, std::nullopt};
    if (result.fullRescan) {
        result.tree = scanner.scan(root, static_cast<int64_t>(snapshot.tree->count()), nullptr,
                                   options_.control);
        for (FileTree::Node n = 0; n < result.tree->count(); ++n)
            if (result.tree->isDirectory(n)) ++result.foldersLookedAt;
    } else {
        result.tree = std::move(snapshot.tree);
        result.changed = changes.paths();
        for (auto& path : DiskScanner::newlyReadable(*result.tree))
            result.changed.push_back(std::move(path));
        if (!result.changed.empty() && !cancelled())
            scanner.rescan(*result.tree, result.changed, options_.control);
        result.foldersLookedAt = result.changed.size();
    }
    {
        std::lock_guard lock(mutex_);
        scanner_ = nullptr;
    }
    if (cancelled() || (options_.control != nullptr && options_.control->interrupted()))
        return RefreshError{Kind::cancelled, file, {}, 0, std::nullopt};
    result.catchUpTime = since(catchUpStart);

    if (result.tree->flags(FileTree::root).contains(NodeFlags::unreadable)) {
        return RefreshError{Kind::unreadableRoot, file, root, whyUnreadable(root), std::nullopt};
    }

    const auto saveStart = Clock::now();
    // The time is the moment of saving, as a reader of the file would take it.
    result.meta.scannedAt =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    if (auto error = Snapshot::save(*result.tree, result.meta, file, options_.threads)) {
        if (!options_.keepUnsaved) return RefreshError{Kind::cannotSave, file, {}, 0, *error};
        result.saveError = *error;
    }
    result.saveTime = since(saveStart);
    return result;
}

}  // namespace quenwick
