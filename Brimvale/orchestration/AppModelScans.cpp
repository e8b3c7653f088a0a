// Scan orchestration: loading a target from its snapshot, full scans, accepting a finished tree,
// and what follows it (history, alerts, suggestions).
#include <QPointer>

#include <chrono>

#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/FSEventsHistory.h"
#include "QuenwickCore/FullDiskAccess.h"
#include "QuenwickCore/Snapshot.h"
#include "QuenwickCore/TideAlerts.h"
#include "QuenwickCore/TideHistory.h"
#include "QuenwickCore/TideSummary.h"
#include "Shoreline/RunningApps.h"
#include "Shoreline/Shoreline.h"
#include "Shoreline/ShorelineContext.h"
#include "model/AppModel.h"
#include "orchestration/AppJournalRecorder.h"
#include "orchestration/SnapshotCatchUp.h"

namespace brimvale {

using quenwick::FileTree;
using quenwick::VolumeInfo;

namespace {

std::shared_ptr<quenwick::DiskScanner> scannerFor(const std::string& root) {
    return std::make_shared<quenwick::DiskScanner>(quenwick::ScanOptions::forVolume(root),
                                                   quenwick::DiskScanner::defaultWorkers(),
                                                   AppModel::progressInterval);
}
}  // namespace

struct AppModel::Finished {
    ScanTarget target;
    ControlPtr control;
    std::shared_ptr<FileTree> tree;  // none: nothing to show
    OptionalVolume volume;
    LoadPath path = LoadPath::none;
    bool complete = true;
};

void AppModel::start() {
    if (phase_ != Phase::idle) return;
    if (demo_) {
        showDemoTree(target_);
        return;
    }
    runInBackground(
        serial_,
        [eraser = eraser_] {
            eraser->resumePending();
            return true;
        },
        [](bool) {});
    load(target_, false);
}

std::string AppModel::snapshotURL(const ScanTarget& target) const {
    std::string name = target.rootPath(env_.home);
    if (name == "/") {
        name = "_root";
    } else {
        for (char& c : name)
            if (c == '/') c = '_';
    }
    return env_.dataHome + "/Brimvale/Snapshots/" + name + ".qws";
}

AppModel::ControlPtr AppModel::beginScan() {
    if (control_) control_->cancel();
    control_ = std::make_shared<quenwick::ScanControl>();
    scanStarted_ = std::chrono::steady_clock::now();
    return control_;
}

void AppModel::load(const ScanTarget& target, bool quiet) {
    if (demo_) {
        if (!quiet) showDemoTree(target);
        return;
    }
    const std::string root = target.rootPath(env_.home);
    if (!quiet && phase_ != Phase::updating) setPhase(Phase::updating);
    // A quiet catch-up must not stop a scan the user started.
    if (quiet && control_ && !control_->finished()) return;
    ControlPtr control = beginScan();
    runInBackground(
        pool_,
        [root, url = snapshotURL(target), target, control] {
            CatchUp caught =
                CatchUp::run(root, url, quenwick::DiskScanner::defaultWorkers(), *control);
            Finished f{target, control, std::move(caught.tree), VolumeInfo::containing(root)};
            switch (caught.outcome) {
                case CatchUp::Outcome::unchanged:
                    f.path = LoadPath::snapshot;
                    break;
                case CatchUp::Outcome::caughtUp:
                    f.path = LoadPath::incremental;
                    break;
                case CatchUp::Outcome::needsFullScan:
                    f.path = LoadPath::fullScan;
                    break;
                case CatchUp::Outcome::cancelled:
                    f.path = LoadPath::none;
                    break;
            }
            return f;
        },
        [this, quiet](Finished f) {
            if (f.target != target_ || f.control != control_) {
                emit scanSettled(false);
                return;
            }
            // Stopped while the snapshot was read: no full scan either.
            const bool fallBack =
                f.path == LoadPath::fullScan && !quiet && !f.control->cancelRequested();
            const bool shown = f.tree != nullptr;
            if (shown) {
                finish(std::move(f));
            } else if (fallBack) {
                fullScan(f.target);
            } else if (phase_ == Phase::updating) {
                // Stopped: back to what is on screen.
                setPhase(tree_ ? Phase::ready : Phase::idle);
            }
            if (!shown && !fallBack) emit scanSettled(false);
        });
}

void AppModel::fullScan(const ScanTarget& target) {
    if (demo_) {
        showDemoTree(target);
        return;
    }
    if (phase_ != Phase::scanning) setPhase(Phase::scanning);
    setProgress(std::nullopt);
    dropTree();
    setAdminScan(false);
    const std::string root = target.rootPath(env_.home);
    const int64_t expected = settings_.itemCount(root);
    ControlPtr control = beginScan();
    progressTimer_.start(progressInterval);
    runInBackground(
        pool_,
        [root, url = snapshotURL(target), target, control, expected] {
            const uint64_t position = quenwick::FSEventsHistory::currentEventID();
            auto scanner = scannerFor(root);
            auto tree = scanner->scan(root, expected, nullptr, control.get());
            const bool complete = !control->interrupted();
            // A partial tree is shown but never saved: a catch-up from it would miss what the
            // scan never reached.
            if (complete)
                (void)quenwick::Snapshot::save(*tree,
                                               {root, quenwick::TideSummary::now(), position}, url,
                                               1, quenwick::Snapshot::MissingFolder::create);
            return Finished{
                target,  control, std::move(tree), VolumeInfo::containing(root), LoadPath::fullScan,
                complete};
        },
        [this](Finished f) {
            if (f.target != target_ || f.control != control_) {
                emit scanSettled(false);
                return;
            }
            finish(std::move(f));
        });
}

void AppModel::pollProgress() {
    if (!control_ || control_->finished() || phase_ != Phase::scanning) {
        progressTimer_.stop();
        return;
    }
    quenwick::ScanProgress p;
    p.files = control_->files();
    p.bytes = control_->bytes();
    p.elapsed = std::chrono::steady_clock::now() - scanStarted_;
    setProgress(p);
}

void AppModel::finish(Finished f) {
    progressTimer_.stop();
    lastLoadPath_ = f.path;
    setProgress(std::nullopt);
    installTree(std::move(f.tree), f.volume);
    lastRefresh_ = std::chrono::system_clock::now();
    if (f.complete) settings_.setItemCount(target_.rootPath(env_.home), tree_->count());
    if (journal_) journal_->cover(target_.rootPath(env_.home));
    recordHistory();
    analyzeShoreline();
    emit scanSettled(true);
}

void AppModel::installScanned(const ScanTarget& target, std::shared_ptr<FileTree> tree,
                              OptionalVolume volume) {
    finish(Finished{target, nullptr, std::move(tree), std::move(volume), LoadPath::fullScan, true});
}

void AppModel::choose(const ScanTarget& target) {
    if (control_) control_->cancel();
    cancelAdminScan();
    setTarget(target);
    load(target, false);
}

void AppModel::rescan() {
    if (control_) control_->cancel();
    cancelAdminScan();
    fullScan(target_);
}

void AppModel::stopScan() {
    // The stopped scan's partial tree still arrives and is shown; a stopped administrator scan
    // leaves the regular one.
    if (control_) control_->cancel();
    if (cancelAdminScan()) load(ScanTarget::startupDisk(), false);
}

void AppModel::refreshFullDiskAccess() {
    if (demo_) return;
    runInBackground(
        pool_,
        [] {
            return quenwick::FullDiskAccess::current() != quenwick::FullDiskAccess::Status::denied;
        },
        [this](bool granted) {
            if (granted == hasFullDiskAccess_) return;
            setHasFullDiskAccess(granted);
            if (!granted) return;
            raise("Full Disk Access is on. Rescanning to include the folders that were hidden.",
                  false);
            if (phase_ == Phase::ready) rescan();
        });
}

void AppModel::analyzeShoreline() {
    if (!tree_ || phase_ != Phase::ready) return;
    if (!tree_->nodeAtPath(env_.home)) {
        setShoreline({});
        setShorelineChecked({});
        setShorelinePhase(ShorelinePhase::unavailable);
        return;
    }
    if (demo_) {
        analyzeDemoShoreline();
        return;
    }
    setShorelinePhase(ShorelinePhase::analyzing);
    uint64_t trash = 0;
    for (const auto& place : {env_.home + "/.Trash", env_.dataHome + "/Trash"})
        if (const auto n = tree_->nodeAtPath(place)) trash += tree_->size(*n);
    const qint64 rev = revision_;
    runInBackground(
        pool_,
        [tree = lendTree(), guardian = guardian_] {
            auto context = shoreline::ShorelineContext::forCurrentUser(tree, guardian());
            context.runningBundleIDs = shoreline::RunningApps::identifiers();
            return shoreline::Shoreline::analyze(context);
        },
        [this, rev, trash](Categories categories) {
            acceptShoreline(rev, trash, std::move(categories));
        });
}

void AppModel::acceptShoreline(qint64 rev, uint64_t trash, Categories categories) {
    // A removal or a new tree came meanwhile: the findings may name what is gone.
    if (rev != revision_) {
        analyzeShoreline();
        return;
    }
    PathSet checked;
    for (const auto& c : categories)
        for (const auto& f : c.findings)
            if (f.safety == shoreline::Safety::safe) checked.insert(f.path);
    setShoreline(std::move(categories));
    setShorelineChecked(std::move(checked));
    setTrashBytes(trash);
    setShorelinePhase(ShorelinePhase::ready);
}

void AppModel::recordHistory() {
    // The fictional machine's history is fixed; the real one is neither read nor written.
    if (demo_) return;
    if (!tree_ || !tree_->nodeAtPath(env_.home)) return;
    struct Recorded {
        OptionalVolume startup;
        History history;
    };
    runInBackground(
        serial_,
        [tree = lendTree(), home = env_.home,
         store = quenwick::TideHistory(env_.dataHome + "/Brimvale/History")] {
            Recorded r;
            r.startup = VolumeInfo::containing("/");
            const double now = quenwick::TideSummary::now();
            (void)store.record(*tree, r.startup, now, home);
            r.history = store.load(now);
            return r;
        },
        [this](Recorded r) {
            setStartupVolume(r.startup);
            setHistory(std::move(r.history));
            evaluateAlerts(true);
        });
}

void AppModel::evaluateAlerts(bool historyBased) {
    if (demo_) return;
    if (!startupVolume_) return;
    const auto alerts = quenwick::TideAlerts::evaluate(
        *startupVolume_, historyBased ? history_ : History{}, quenwick::TideSummary::now());
    for (const auto& alert : alerts)
        if (settings_.alertEnabled(alert)) post(alert);
}

}  // namespace brimvale
