// Removing the Cleanup List (to the Trash or for good), and the trash ledger's upkeep. The Trash,
// the eraser and the ledger file are used on the serial worker, one job at a time; what they
// report changes the model back on the GUI thread.
#include <cerrno>

#include "QuenwickCore/FullDiskAccess.h"
#include "QuenwickCore/PathRules.h"
#include "QuenwickCore/TrashMove.h"
#include "model/AppModel.h"
#include "model/Saturating.h"

namespace brimvale {

using quenwick::FileTree;
using quenwick::VolumeInfo;

struct AppModel::RemovalWork {
    bool permanent = false;
    uint64_t treeGeneration = 0;
    std::vector<StagedItem> items;
    // Filled in by the worker.
    TrashResult result;
    std::vector<StagedItem> moved;
    std::optional<LedgerState> ledger;
    OptionalVolume volume;
    OptionalVolume startupVolume;
};

namespace {

QString failureLine(const StagedItem& item, const std::string& why) {
    return item.name + ": " + QString::fromStdString(why);
}

// Whether the Trash can be looked into; a Trash that does not exist holds nothing of ours.
bool trashReadable(const std::string& dataHome) {
    const int32_t error = quenwick::FullDiskAccess::tryOpen(dataHome + "/Trash");
    return error == 0 || error == ENOENT;
}

// The entries that may go ahead: the guard allows them now and the path still names the item
// that was staged. The others get their failure line.
std::vector<StagedItem> recheck(const std::vector<StagedItem>& items,
                                const quenwick::DeletionGuard& guard, TrashResult& result) {
    std::vector<StagedItem> pass;
    for (const auto& item : items) {
        const auto verdict = guard.check(item.path);
        if (const auto* reason = verdict.blockedReason()) {
            result.failures << failureLine(item, *reason);
            continue;
        }
        const auto now = ItemIdentity::of(item.path);
        const bool changed = now && (!item.identity || !item.identity->sameItem(*now));
        if (changed) {
            result.failures << quotedName(item.name) +
                                   " changed since you added it. Review it again.";
            continue;
        }
        StagedItem ready = item;
        ready.removal = *verdict.allowed();
        pass.push_back(std::move(ready));
    }
    return pass;
}

}  // namespace

bool AppModel::moveToTrash() {
    return startRemoval(false);
}

bool AppModel::deleteImmediately() {
    return startRemoval(true);
}

bool AppModel::startRemoval(bool permanent) {
    if (removing_ || lowTide_.empty()) return false;
    setRemoving(true);
    RemovalWork work;
    work.permanent = permanent;
    work.treeGeneration = treeGeneration_;
    work.items = lowTide_;
    work.result.permanent = permanent;
    runInBackground(
        serial_,
        [work = std::move(work), guardian = guardian_, eraser = eraser_, ledger = ledger_,
         root = target_.rootPath(env_.home)]() mutable {
            const auto pass = recheck(work.items, guardian(), work.result);
            std::vector<quenwick::GuardedRemoval> removals;
            for (const auto& item : pass)
                removals.push_back(*item.removal);
            if (!work.permanent) {
                std::vector<uint64_t> bytes;
                for (const auto& item : pass)
                    bytes.push_back(item.bytes);
                auto moved = quenwick::TrashMove::moveToTrash(removals, std::move(bytes), ledger);
                const auto& outcomes = moved.outcomes;
                for (size_t i = 0; i < pass.size() && i < outcomes.size(); ++i) {
                    if (outcomes[i].error) {
                        work.result.failures << failureLine(pass[i], outcomes[i].error->message);
                        continue;
                    }
                    work.moved.push_back(pass[i]);
                }
                if (moved.ledger) work.ledger = std::move(moved.ledger);
            } else if (!removals.empty()) {
                auto erased = eraser->erase(removals);
                if (const auto* error = std::get_if<std::error_code>(&erased)) {
                    // Nothing was touched: say so for every item, which all stay listed.
                    const std::string why =
                        "The erasing folder could not be prepared (" + error->message() + ")";
                    for (const auto& item : pass)
                        work.result.failures << failureLine(item, why);
                } else {
                    const auto& outcomes = std::get<std::vector<quenwick::EraseOutcome>>(erased);
                    uint64_t bytes = 0;
                    for (size_t i = 0; i < pass.size() && i < outcomes.size(); ++i) {
                        if (outcomes[i].error) {
                            work.result.failures
                                << failureLine(pass[i], outcomes[i].error->message);
                            continue;
                        }
                        work.moved.push_back(pass[i]);
                        bytes = saturatingAdd(bytes, pass[i].bytes);
                    }
                    if (bytes != 0) work.ledger = ledger.addFreed(bytes, {});
                }
            }
            work.volume = VolumeInfo::containing(root);
            work.startupVolume = VolumeInfo::containing("/");
            return std::move(work);
        },
        [this](RemovalWork work) { finishRemoval(std::move(work)); });
    return true;
}

void AppModel::finishRemoval(RemovalWork work) {
    TrashResult result = std::move(work.result);
    const bool sameTree = work.treeGeneration == treeGeneration_;
    if (sameTree) setVolume(work.volume);
    setStartupVolume(work.startupVolume);
    removeFromView(work.moved, result, sameTree);
    if (!work.permanent) {
        setTrashBytes(saturatingAdd(trashBytes_, result.movedBytes));
        if (work.ledger) setTrashLedger(std::move(*work.ledger));
    } else {
        finishErasing(result.movedBytes, {}, std::move(work.ledger));
    }
    setRemoving(false);
    emit removalFinished(result);
    emit backgroundSettled();
}

bool AppModel::focusIsRemoved() const {
    for (Node a = focus_; a != FileTree::none; a = tree_->parent(a))
        if (tree_->flags(a).contains(quenwick::NodeFlags::dead)) return true;
    return false;
}

void AppModel::removeFromView(const std::vector<StagedItem>& items, TrashResult& result,
                              bool sameTree) {
    std::set<std::string> removed;
    for (const auto& item : items) {
        removed.insert(item.path);
        result.movedCount += 1;
        result.movedBytes = saturatingAdd(result.movedBytes, item.bytes);
        // A tree that replaced the one the removal started from is left alone: it may hold
        // another item under the same path.
        if (sameTree && tree_) {
            if (const auto node = tree_->nodeAtPath(item.path)) writableTree().remove(*node);
        }
    }
    auto goneWith = [&](const std::string& path) {
        for (const auto& r : removed)
            if (quenwick::PathRules::isAtOrBelow(path, r)) return true;
        return false;
    };

    StagedItems list = lowTide_;
    std::erase_if(list, [&](const StagedItem& i) { return removed.count(i.path) != 0; });
    setLowTide(std::move(list));

    Categories categories = shoreline_;
    for (auto& c : categories)
        std::erase_if(c.findings, [&](const shoreline::Finding& f) { return goneWith(f.path); });
    std::erase_if(categories, [](const auto& c) { return c.findings.empty(); });
    setShoreline(std::move(categories));

    PathSet checked = shorelineChecked_;
    std::erase_if(checked, goneWith);
    setShorelineChecked(std::move(checked));

    if (tree_ && focusIsRemoved()) {
        setFocusValue(FileTree::root);
        setHovered(std::nullopt);
    }
    setRevision(revision_ + 1);
    relayout();
}

void AppModel::finishErasing(uint64_t bytes, const std::set<std::string>& settlingTrashed,
                             std::optional<LedgerState> settled) {
    if (bytes == 0 && settlingTrashed.empty()) return;
    setErasingBytes(saturatingAdd(erasingBytes_, bytes));
    if (settled) setTrashLedger(std::move(*settled));
    runInBackground(
        pool_,
        [this, eraser = eraser_, root = target_.rootPath(env_.home)] {
            while (!stopping_ && !eraser->waitUntilIdle(std::chrono::milliseconds(100))) {
            }
            return std::make_pair(VolumeInfo::containing(root), VolumeInfo::containing("/"));
        },
        [this, bytes](std::pair<OptionalVolume, OptionalVolume> volumes) {
            // Later erases keep their own bytes until their own wait ends.
            setErasingBytes(clampedSubtract(erasingBytes_, bytes));
            if (tree_) setVolume(volumes.first);
            setStartupVolume(volumes.second);
            setRevision(revision_ + 1);
            emit backgroundSettled();
        });
}

void AppModel::refreshTrashLedger() {
    runInBackground(
        serial_,
        [ledger = ledger_, dataHome = env_.dataHome] {
            return ledger.refresh(trashReadable(dataHome));
        },
        [this](LedgerState state) {
            setTrashLedger(std::move(state));
            emit backgroundSettled();
        });
}

void AppModel::deleteClearedTrashNow() {
    struct Cleared {
        LedgerState refreshed;
        size_t kept = 0;
        size_t failed = 0;
        uint64_t bytes = 0;
        std::set<std::string> settled;
        std::optional<LedgerState> settledState;
    };
    runInBackground(
        serial_,
        [ledger = ledger_, dataHome = env_.dataHome, guardian = guardian_, eraser = eraser_] {
            Cleared c;
            c.refreshed = ledger.refresh(trashReadable(dataHome));
            const quenwick::DeletionGuard guard = guardian();
            std::vector<quenwick::GuardedRemoval> removals;
            std::vector<const quenwick::TrashLedger::Entry*> entries;
            for (const auto& e : c.refreshed.entries) {
                const auto verdict = guard.check(e.trashed);
                if (const auto* removal = verdict.allowed()) {
                    removals.push_back(*removal);
                    entries.push_back(&e);
                }
            }
            c.kept = removals.size();
            if (removals.empty()) return c;
            auto erased = eraser->erase(removals);
            if (const auto* outcomes = std::get_if<std::vector<quenwick::EraseOutcome>>(&erased)) {
                for (size_t i = 0; i < entries.size() && i < outcomes->size(); ++i) {
                    if ((*outcomes)[i].error) continue;
                    c.settled.insert(entries[i]->trashed);
                    c.bytes = saturatingAdd(c.bytes, entries[i]->bytes);
                }
            }
            c.failed = c.kept - std::min(c.kept, c.settled.size());
            // Only what the eraser accepted is settled and counted as freed.
            if (c.bytes != 0 || !c.settled.empty())
                c.settledState = ledger.addFreed(c.bytes, c.settled);
            return c;
        },
        [this](Cleared c) {
            setTrashLedger(std::move(c.refreshed));
            if (c.kept != 0) {
                setTrashBytes(clampedSubtract(trashBytes_, c.bytes));
                finishErasing(c.bytes, c.settled, std::move(c.settledState));
                if (c.failed != 0)
                    raise(QString::number(c.failed) + (c.failed == 1 ? " item" : " items") +
                              " in the Trash could not be deleted.",
                          true);
            }
            emit backgroundSettled();
        });
}

}  // namespace brimvale
