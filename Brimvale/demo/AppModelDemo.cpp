// Demo mode: the model shows the fictional machine of DemoMachine instead of this one. Loads,
// scans and the watch show the fictional tree; removals change only the tree on screen and the
// model's figures; nothing is read from or written to the user's data, caches or Trash.
#include "demo/DemoMachine.h"
#include "model/AppModel.h"
#include "model/Saturating.h"

namespace brimvale {

using quenwick::FileTree;

AppModel::Services AppModel::Services::demoMachine(std::shared_ptr<const DemoMachine> machine) {
    AppEnvironment env = machine->environment();
    // The user's own settings (appearance, alerts, the tour) apply in demo mode as well.
    env.configHome = AppEnvironment::current().configHome;
    // The eraser and the ledger point into the fictional home; demo mode never calls them.
    auto eraser = std::make_shared<quenwick::Eraser>(env.cacheHome + "/Brimvale/Erasing");
    quenwick::TrashLedger ledger(env.dataHome + "/Brimvale/trash-ledger.json",
                                 [](const std::string&) { return false; });
    auto guardian = [machine] { return machine->guard(); };
    return Services{
        std::move(env),    std::move(guardian), std::move(eraser), std::move(ledger), {}, {},
        std::move(machine)};
}

void AppModel::showDemoTree(const ScanTarget& target) {
    if (control_) control_->cancel();
    const std::string root = target.rootPath(env_.home);
    auto tree = demo_->tree(root);
    if (tree->rootPath() != root) setTarget(ScanTarget::startupDisk());
    // What was removed before stays removed: the fictional disk keeps its new free space.
    for (const auto& path : demoRemovedPaths_)
        if (const auto node = tree->nodeAtPath(path)) tree->remove(*node);
    lastLoadPath_ = LoadPath::snapshot;
    setProgress(std::nullopt);
    installTree(std::move(tree), demo_->volume(demoRemovedBytes_));
    lastRefresh_ = std::chrono::system_clock::now();
    setStartupVolume(demo_->volume(demoRemovedBytes_));
    if (history_.empty()) setHistory(demo_->history());
    analyzeShoreline();
    emit scanSettled(true);
}

void AppModel::analyzeDemoShoreline() {
    if (!tree_ || phase_ != Phase::ready) return;
    setShorelinePhase(ShorelinePhase::analyzing);
    const qint64 rev = revision_;
    const uint64_t trash = demoTrashBytes_.value_or(demo_->trashBytes(*tree_));
    runInBackground(
        pool_, [tree = lendTree(), machine = demo_] { return machine->suggestions(tree); },
        [this, rev, trash](Categories categories) {
            acceptShoreline(rev, trash, std::move(categories));
        });
}

bool AppModel::removeInDemo(bool permanent) {
    if (removing_ || lowTide_.empty()) return false;
    setRemoving(true);
    TrashResult result;
    result.permanent = permanent;
    std::vector<StagedItem> moved;
    const quenwick::DeletionGuard guard = guardian_();
    for (const auto& item : lowTide_) {
        const auto verdict = guard.check(item.path);
        if (const auto* reason = verdict.blockedReason()) {
            result.failures << item.name + ": " + QString::fromStdString(*reason);
            continue;
        }
        moved.push_back(item);
    }
    removeFromView(moved, result, true);
    for (const auto& item : moved)
        demoRemovedPaths_.push_back(item.path);
    if (permanent) {
        demoRemovedBytes_ = saturatingAdd(demoRemovedBytes_, result.movedBytes);
        LedgerState ledger = trashLedger_;
        ledger.freedBytes = saturatingAdd(ledger.freedBytes, result.movedBytes);
        setTrashLedger(std::move(ledger));
    } else {
        // Still on the fictional disk, now in its Trash.
        demoTrashBytes_ = saturatingAdd(trashBytes_, result.movedBytes);
        setTrashBytes(*demoTrashBytes_);
    }
    setVolume(demo_->volume(demoRemovedBytes_));
    setStartupVolume(demo_->volume(demoRemovedBytes_));
    // The result arrives as a real removal's would: after the call, on the event loop.
    QMetaObject::invokeMethod(
        this,
        [this, result] {
            setRemoving(false);
            emit removalFinished(result);
            emit backgroundSettled();
        },
        Qt::QueuedConnection);
    return true;
}

}  // namespace brimvale
