// The administrator scan: the privileged helper scans the startup disk and streams the tree back;
// it replaces the startup disk's snapshot and is shown like any other scan. Any failure shows the
// regular scan with a notice.
#include <variant>

#include "HelperKit/HelperSession.h"
#include "QuenwickCore/Snapshot.h"
#include "QuenwickCore/SnapshotScan.h"
#include "model/AppModel.h"
#include "orchestration/AdminHelper.h"

namespace brimvale {

using quenwick::FileTree;
using quenwick::VolumeInfo;

struct AppModel::AdminResult {
    std::shared_ptr<FileTree> tree;  // none on failure
    OptionalVolume volume;
    QString error;  // why it failed, as the user reads it
};

void AppModel::scanAsAdministrator() {
    // The fictional computer has nothing the helper could read.
    if (demo_) {
        showDemoTree(ScanTarget::startupDisk());
        return;
    }
    if (control_) control_->cancel();
    cancelAdminScan();
    const ScanTarget startup = ScanTarget::startupDisk();
    if (!(target_ == startup)) setTarget(startup);
    if (phase_ != Phase::scanning) setPhase(Phase::scanning);
    setProgress(std::nullopt);
    dropTree();
    const uint64_t attempt = ++adminAttempt_;
    adminActive_ = true;
    adminHelper_->prepare([this, attempt, startup](AdminHelper::Readiness readiness) {
        if (attempt != adminAttempt_) return;
        if (readiness.kind != AdminHelper::Readiness::Kind::ready) {
            adminActive_ = false;
            raise("Administrator scan isn't available (" + readiness.reason +
                      "). Showing your regular scan.",
                  true);
            load(startup, false);
            return;
        }
        const std::string root = adminHelper_->options().scanRoot;
        // This user's journal position, taken just before asking (the helper's snapshot knows
        // no journal of ours).
        runInBackground(
            pool_, [root] { return quenwick::SnapshotScan::stampBefore(root); },
            [this, attempt, root](quenwick::SnapshotMeta stamp) {
                if (attempt != adminAttempt_) return;
                askHelperToScan(attempt, root, stamp.fsEventID);
            });
    });
}

void AppModel::askHelperToScan(uint64_t attempt, const std::string& root, uint64_t position) {
    adminSession_ = std::make_shared<helperkit::HelperSession>(adminHelper_->options().endpoint);
    scanStarted_ = std::chrono::steady_clock::now();
    auto onProgress = [this, attempt](int64_t files, int64_t bytes) {
        if (attempt != adminAttempt_ || files < 0 || bytes < 0) return;
        quenwick::ScanProgress p;
        p.files = uint64_t(files);
        p.bytes = uint64_t(bytes);
        p.elapsed = std::chrono::steady_clock::now() - scanStarted_;
        setProgress(p);
    };
    auto onDone = [this, attempt, root, position, url = snapshotURL(ScanTarget::startupDisk())](
                      std::variant<std::vector<uint8_t>, helperkit::HelperError> received) {
        // The session is let go once its callback has returned.
        QMetaObject::invokeMethod(
            this,
            [this, attempt] {
                if (attempt == adminAttempt_) adminSession_.reset();
            },
            Qt::QueuedConnection);
        if (attempt != adminAttempt_) return;
        adminActive_ = false;
        if (auto* error = std::get_if<helperkit::HelperError>(&received)) {
            adminScanFailed(QString::fromStdString(error->describe()));
            return;
        }
        runInBackground(
            pool_,
            [bytes = std::get<std::vector<uint8_t>>(std::move(received)), root, position, url] {
                AdminResult r;
                auto decoded = quenwick::Snapshot::decode(bytes);
                if (auto* error = std::get_if<quenwick::SnapshotError>(&decoded)) {
                    r.error = QString::fromStdString(error->describe());
                    return r;
                }
                auto loaded = std::get<quenwick::LoadedSnapshot>(std::move(decoded));
                if (loaded.tree->flags(FileTree::root).contains(quenwick::NodeFlags::unreadable)) {
                    r.error =
                        QString::fromStdString("cannot read " + root + " even as administrator");
                    return r;
                }
                loaded.meta.fsEventID = position;
                // The app's own snapshot folder is made on demand.
                (void)quenwick::Snapshot::save(*loaded.tree, loaded.meta, url, 1,
                                               quenwick::Snapshot::MissingFolder::create);
                r.tree = std::move(loaded.tree);
                r.volume = VolumeInfo::containing(root);
                return r;
            },
            [this, attempt](AdminResult r) {
                if (attempt != adminAttempt_) return;
                if (!r.tree) {
                    adminScanFailed(r.error);
                    return;
                }
                if (!(target_ == ScanTarget::startupDisk())) return;
                installScanned(ScanTarget::startupDisk(), std::move(r.tree), r.volume);
                setAdminScan(true);
            });
    };
    adminSession_->scan(root, std::move(onProgress), std::move(onDone));
}

void AppModel::adminScanFailed(const QString& why) {
    if (!(target_ == ScanTarget::startupDisk())) return;
    raise("The administrator scan stopped (" + why + "). Showing your regular scan.", true);
    load(ScanTarget::startupDisk(), false);
}

bool AppModel::cancelAdminScan() {
    if (!adminActive_) return false;
    adminActive_ = false;
    ++adminAttempt_;
    // Tells the helper to stop; whatever it answers now reaches nobody.
    adminSession_.reset();
    return true;
}

}  // namespace brimvale
