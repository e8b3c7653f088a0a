// Removing the Cleanup List (to the Trash or for good), and the trash ledger's upkeep. The Trash,
// the eraser and the ledger file are used on the serial worker, one job at a time; what they
// report changes the model back on the GUI thread.
#include <cerrno>

#include "QuenwickCore/FullDiskAccess.h"
#include "QuenwickCore/PathRules.h"
#include "QuenwickCore/TrashMove.h"
#include "QuenwickCore/Utf8.h"
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
    std::vector<std::string> erasedURLs;  // for a permanent delete: the eraser's name of each moved
    std::optional<LedgerState> ledger;
    OptionalVolume volume;
    OptionalVolume startupVolume;
};

// One item the eraser accepted, until its deletion has run.
struct AppModel::ErasedItem {
    std::string url;  // as the eraser names it in its remains
    QString name;
    uint64_t bytes = 0;
    std::optional<std::string>
        settles;  // the trashed path of a ledger entry that settles once gone
    std::optional<quenwick::EraseRemains> remains;  // what the deletion could not remove
};

namespace {

QString failureLine(const StagedItem& item, const std::string& why) {
    return item.name + ": " + QString::fromStdString(why);
}

// "3 items could not be deleted (/a/locked, /a/locked/f); what is left waits in /cache/...".
QString remainsText(const quenwick::EraseRemains& r) {
    QString text = QString::number(r.entries) + (r.entries == 1 ? " item" : " items") +
                   " could not be deleted";
    QStringList paths;
    for (const auto& path : r.firstPaths)
        paths << QString::fromStdString(quenwick::utf8::display(path));
    if (!paths.isEmpty())
        text += " (" + paths.join(", ") +
                (r.entries > static_cast<size_t>(paths.size()) ? ", …)" : ")");
    return text + "; what is left waits in " +
           QString::fromStdString(quenwick::utf8::display(r.location));
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
    if (demo_) return removeInDemo(permanent);
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
                    for (size_t i = 0; i < pass.size() && i < outcomes.size(); ++i) {
                        if (outcomes[i].error) {
                            work.result.failures
                                << failureLine(pass[i], outcomes[i].error->message);
                            continue;
                        }
                        work.moved.push_back(pass[i]);
                        work.erasedURLs.push_back(outcomes[i].url);
                    }
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
        setRemoving(false);
        emit removalFinished(result);
        emit backgroundSettled();
        return;
    }
    // The items have left their places; whether they are really gone is known once the eraser
    // has run, so the result waits for it.
    std::vector<ErasedItem> erased;
    for (size_t i = 0; i < work.moved.size() && i < work.erasedURLs.size(); ++i)
        erased.push_back({work.erasedURLs[i], work.moved[i].name, work.moved[i].bytes, {}, {}});
    finishErasing(std::move(erased), [this, result](std::vector<ErasedItem> left) mutable {
        for (const auto& item : left) {
            result.failures << item.name + ": " + remainsText(*item.remains);
            result.movedCount = std::max(0, result.movedCount - 1);
            result.movedBytes = clampedSubtract(result.movedBytes, item.bytes);
        }
        setRemoving(false);
        emit removalFinished(result);
    });
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

void AppModel::finishErasing(std::vector<ErasedItem> items,
                             std::function<void(std::vector<ErasedItem>)> done) {
    if (items.empty()) {
        done({});
        emit backgroundSettled();
        return;
    }
    uint64_t bytes = 0;
    for (const auto& item : items)
        bytes = saturatingAdd(bytes, item.bytes);
    setErasingBytes(saturatingAdd(erasingBytes_, bytes));
    struct Idle {
        std::vector<quenwick::EraseRemains> remains;
        OptionalVolume volume, startupVolume;
    };
    runInBackground(
        pool_,
        [this, eraser = eraser_, root = target_.rootPath(env_.home)] {
            while (!stopping_ && !eraser->waitUntilIdle(std::chrono::milliseconds(100))) {
            }
            return Idle{eraser->takeRemains(), VolumeInfo::containing(root),
                        VolumeInfo::containing("/")};
        },
        [this, bytes, items = std::move(items), done = std::move(done)](Idle idle) mutable {
            // Another erase's wait may have taken these items' remains (and this one theirs):
            // every taken remains waits here until its own erase claims it.
            for (auto& r : idle.remains)
                unclaimedRemains_.insert_or_assign(r.url, std::move(r));
            std::vector<ErasedItem> gone, left;
            for (auto& item : items) {
                if (auto it = unclaimedRemains_.find(item.url); it != unclaimedRemains_.end()) {
                    item.remains = std::move(it->second);
                    unclaimedRemains_.erase(it);
                    left.push_back(std::move(item));
                } else {
                    gone.push_back(std::move(item));
                }
            }
            // Later erases keep their own bytes until their own wait ends.
            setErasingBytes(clampedSubtract(erasingBytes_, bytes));
            if (tree_) setVolume(idle.volume);
            setStartupVolume(idle.startupVolume);
            setRevision(revision_ + 1);
            // Only what is really gone counts as freed, and only such a Trash entry settles.
            uint64_t freed = 0;
            std::set<std::string> settled;
            for (const auto& item : gone) {
                freed = saturatingAdd(freed, item.bytes);
                if (item.settles) settled.insert(*item.settles);
            }
            runInBackground(
                serial_,
                [ledger = ledger_, freed,
                 settled = std::move(settled)]() -> std::optional<LedgerState> {
                    if (freed == 0 && settled.empty()) return std::nullopt;
                    return ledger.addFreed(freed, settled);
                },
                [this, left = std::move(left),
                 done = std::move(done)](std::optional<LedgerState> state) mutable {
                    if (state) setTrashLedger(std::move(*state));
                    done(std::move(left));
                    emit backgroundSettled();
                });
        });
}

void AppModel::refreshTrashLedger() {
    if (demo_) return;
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
    if (demo_) return;
    struct Cleared {
        LedgerState refreshed;
        size_t kept = 0;
        size_t refused = 0;
        std::vector<ErasedItem> erased;
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
                    const auto& e = *entries[i];
                    c.erased.push_back({(*outcomes)[i].url, {}, e.bytes, e.trashed, {}});
                }
            }
            c.refused = c.kept - std::min(c.kept, c.erased.size());
            return c;
        },
        [this](Cleared c) {
            setTrashLedger(std::move(c.refreshed));
            if (c.kept == 0) {
                emit backgroundSettled();
                return;
            }
            uint64_t bytes = 0;
            for (const auto& item : c.erased)
                bytes = saturatingAdd(bytes, item.bytes);
            setTrashBytes(clampedSubtract(trashBytes_, bytes));
            finishErasing(
                std::move(c.erased), [this, refused = c.refused](std::vector<ErasedItem> left) {
                    const size_t failed = refused + left.size();
                    if (failed == 0) return;
                    QString text = QString::number(failed) + (failed == 1 ? " item" : " items") +
                                   " in the Trash could not be deleted.";
                    if (!left.empty()) text += " " + remainsText(*left.front().remains) + ".";
                    raise(text, true);
                });
        });
}

}  // namespace brimvale
