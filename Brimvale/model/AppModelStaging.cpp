// The Cleanup List's staging rules and the ticking of suggestions.
#include <QFile>

#include <algorithm>

#include "QuenwickCore/ByteFormat.h"
#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/PathRules.h"
#include "QuenwickCore/Utf8.h"
#include "model/AppModel.h"
#include "model/Saturating.h"

namespace brimvale {

using quenwick::FileTree;

struct AppModel::StageRequest {
    std::string path;
    uint64_t bytes = 0;
    QString name;
    bool outsideTree = false;  // dropped from the file manager: measured, not taken from a tree
};

struct AppModel::StageJudgement {
    StageRequest request;
    std::optional<quenwick::GuardedRemoval> removal;
    std::string blockedReason;
    std::optional<ItemIdentity> identity;
};

void AppModel::raiseAlreadyListed(const QString& name) {
    raise(quotedName(name) + " is already in the Cleanup List (or inside something that is).",
          false);
}

AppModel::StageRequest AppModel::requestFor(const std::string& path) const {
    if (tree_) {
        if (const auto node = tree_->nodeAtPath(path))
            return {tree_->path(*node), tree_->size(*node), nodeTitle(*node), false};
    }
    const size_t slash = path.find_last_of('/');
    const std::string last = path.substr(slash + 1);
    return {path, 0, QString::fromStdString(quenwick::utf8::display(last.empty() ? path : last)),
            true};
}

void AppModel::stage(const QString& path) {
    // Paths from QML (a drop) arrive as text; this is how Qt maps file names back to bytes.
    stagePath(QFile::encodeName(path).toStdString());
}

void AppModel::stagePath(const std::string& path) {
    if (path.empty() || path.front() != '/') return;
    stageRequests({requestFor(quenwick::DeletionGuard::normalise(path))}, std::nullopt);
}

void AppModel::stagePaths(const std::vector<std::string>& paths) {
    std::vector<StageRequest> requests;
    for (const auto& p : paths)
        if (!p.empty() && p.front() == '/')
            requests.push_back(requestFor(quenwick::DeletionGuard::normalise(p)));
    if (!requests.empty()) stageRequests(std::move(requests), std::nullopt);
}

void AppModel::stageNode(quint32 node) {
    if (!tree_ || node >= tree_->count()) return;
    stageRequests({{tree_->path(node), tree_->size(node), nodeTitle(node), false}}, std::nullopt);
}

void AppModel::unstage(const QUuid& id) {
    StagedItems items = lowTide_;
    std::erase_if(items, [&](const StagedItem& i) { return i.id == id; });
    setLowTide(std::move(items));
}

void AppModel::toggleStaged(quint32 node) {
    if (!tree_ || node >= tree_->count()) return;
    const std::string p = tree_->path(node);
    for (const auto& item : lowTide_) {
        if (item.path == p) {
            unstage(item.id);
            return;
        }
    }
    stageNode(node);
}

bool AppModel::coveredByList(const std::string& path, bool includePending) const {
    for (const auto& item : lowTide_)
        if (quenwick::PathRules::isAtOrBelow(path, item.path)) return true;
    if (includePending)
        for (const auto& p : pendingStages_)
            if (quenwick::PathRules::isAtOrBelow(path, p)) return true;
    return false;
}

void AppModel::stageRequests(std::vector<StageRequest> requests,
                             std::optional<QString> finalNotice) {
    std::vector<StageRequest> batch;
    for (auto& r : requests) {
        if (coveredByList(r.path, true)) {
            raiseAlreadyListed(r.name);
            continue;
        }
        pendingStages_.push_back(r.path);
        batch.push_back(std::move(r));
    }
    if (batch.empty()) {
        if (finalNotice) raise(*finalNotice, false);
        emit backgroundSettled();
        return;
    }
    runInBackground(
        staging_,
        [guardian = guardian_, batch = std::move(batch)] {
            const quenwick::DeletionGuard guard = guardian();
            std::vector<StageJudgement> judgements;
            for (const auto& r : batch) {
                StageJudgement j{r, std::nullopt, {}, ItemIdentity::of(r.path)};
                const auto verdict = guard.check(r.path);
                if (const auto* removal = verdict.allowed()) {
                    j.removal = *removal;
                } else {
                    j.blockedReason = *verdict.blockedReason();
                }
                judgements.push_back(std::move(j));
            }
            return judgements;
        },
        [this, finalNotice](std::vector<StageJudgement> judgements) {
            applyJudgements(std::move(judgements), finalNotice);
        });
}

void AppModel::applyJudgements(std::vector<StageJudgement> judgements,
                               std::optional<QString> finalNotice) {
    for (const auto& j : judgements) {
        const auto it = std::find(pendingStages_.begin(), pendingStages_.end(), j.request.path);
        if (it != pendingStages_.end()) pendingStages_.erase(it);
    }
    StagedItems items = lowTide_;
    std::vector<std::pair<QUuid, std::string>> toMeasure;
    for (auto& j : judgements) {
        const StageRequest& r = j.request;
        // The list may have changed while the guard was asked.
        const bool covered = std::any_of(items.begin(), items.end(), [&](const StagedItem& i) {
            return quenwick::PathRules::isAtOrBelow(r.path, i.path);
        });
        if (covered) {
            raiseAlreadyListed(r.name);
            continue;
        }
        if (!j.removal) {
            raise("Brimvale won't remove " + quotedName(r.name) + ": " +
                      QString::fromStdString(j.blockedReason) + ".",
                  true);
            continue;
        }
        std::erase_if(items, [&](const StagedItem& i) {
            return quenwick::PathRules::isBelow(i.path, r.path);
        });
        StagedItem item;
        item.id = QUuid::createUuid();
        item.path = r.path;
        item.name = r.name;
        item.bytes = r.bytes;
        item.removal = std::move(j.removal);
        item.identity = j.identity;
        if (r.outsideTree) {
            // A file frees what it takes; a folder is measured in full in the background.
            item.bytes = j.identity ? j.identity->allocatedBytes : 0;
            if (j.identity && j.identity->isDirectory) toMeasure.emplace_back(item.id, item.path);
        }
        items.push_back(std::move(item));
    }
    setLowTide(std::move(items));
    for (const auto& [id, path] : toMeasure)
        measureStagedFolder(id, path);
    if (finalNotice) raise(*finalNotice, false);
    emit backgroundSettled();
}

void AppModel::measureStagedFolder(const QUuid& id, const std::string& path) {
    runInBackground(
        pool_,
        [this, path]() -> std::optional<uint64_t> {
            auto scanner =
                std::make_shared<quenwick::DiskScanner>(quenwick::ScanOptions::forVolume(path));
            {
                std::lock_guard lock(measuringMutex_);
                std::erase_if(measuring_, [](const auto& weak) { return weak.expired(); });
                measuring_.push_back(scanner);
            }
            if (stopping_) return std::nullopt;
            return scanner->scan(path)->size(FileTree::root);
        },
        [this, id](std::optional<uint64_t> bytes) {
            if (bytes) {
                StagedItems items = lowTide_;
                for (auto& item : items)
                    if (item.id == id) item.bytes = *bytes;
                setLowTide(std::move(items));
            }
            emit backgroundSettled();
        });
}

bool AppModel::isStaged(const std::string& path) const {
    return coveredByList(path, false);
}

StageState AppModel::stageState(quint32 node) const {
    if (!tree_ || node >= tree_->count()) return StageState::off;
    const std::string p = tree_->path(node);
    bool inside = false;
    for (const auto& item : lowTide_) {
        if (item.path == p) return StageState::on;
        inside = inside || quenwick::PathRules::isBelow(p, item.path);
    }
    return inside ? StageState::insideStaged : StageState::off;
}

quint64 AppModel::stagedBytes() const {
    uint64_t sum = 0;
    for (const auto& item : lowTide_)
        sum = saturatingAdd(sum, item.bytes);
    return sum;
}

void AppModel::toggle(const shoreline::Finding& finding) {
    PathSet checked = shorelineChecked_;
    if (checked.erase(finding.path) == 0) checked.insert(finding.path);
    setShorelineChecked(std::move(checked));
}

void AppModel::toggleFindingAt(int category, int finding) {
    if (category < 0 || static_cast<size_t>(category) >= shoreline_.size()) return;
    const auto& findings = shoreline_[static_cast<size_t>(category)].findings;
    if (finding < 0 || static_cast<size_t>(finding) >= findings.size()) return;
    toggle(findings[static_cast<size_t>(finding)]);
}

void AppModel::setAll(const shoreline::ShorelineCategory& category, bool checked) {
    PathSet paths = shorelineChecked_;
    for (const auto& f : category.findings) {
        if (checked) {
            paths.insert(f.path);
        } else {
            paths.erase(f.path);
        }
    }
    setShorelineChecked(std::move(paths));
}

void AppModel::setAllAt(int category, bool checked) {
    if (category >= 0 && static_cast<size_t>(category) < shoreline_.size())
        setAll(shoreline_[static_cast<size_t>(category)], checked);
}

std::vector<shoreline::Finding> AppModel::checkedFindings() const {
    std::vector<shoreline::Finding> found;
    for (const auto& category : shoreline_)
        for (const auto& f : category.findings)
            if (shorelineChecked_.count(f.path) != 0 && !isStaged(f.path)) found.push_back(f);
    return found;
}

void AppModel::sendCheckedToLowTide() {
    const auto findings = checkedFindings();
    if (findings.empty()) return;
    std::vector<StageRequest> requests;
    uint64_t bytes = 0;
    for (const auto& f : findings) {
        requests.push_back(requestFor(f.path));
        bytes = saturatingAdd(bytes, f.bytes);
    }
    const QString text = "Added " + QString::number(findings.size()) +
                         (findings.size() == 1 ? " item" : " items") + " (" + formatBytes(bytes) +
                         ") to the Cleanup List.";
    stageRequests(std::move(requests), text);
}

quint64 AppModel::shorelineSafeBytes() const {
    uint64_t sum = 0;
    for (const auto& c : shoreline_)
        sum = saturatingAdd(sum, c.safeTotal());
    return sum;
}

quint64 AppModel::shorelineTotalBytes() const {
    uint64_t sum = 0;
    for (const auto& c : shoreline_)
        sum = saturatingAdd(sum, c.total());
    return sum;
}

}  // namespace brimvale
