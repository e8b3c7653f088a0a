#include "model/SuggestionsModel.h"

#include <QVariantMap>

#include <algorithm>

#include "QuenwickCore/PathRules.h"
#include "QuenwickCore/Utf8.h"
#include "model/AppModel.h"
#include "model/Saturating.h"

namespace brimvale {

namespace {

QString text(const std::string& bytes) {
    return QString::fromStdString(quenwick::utf8::display(bytes));
}

std::vector<std::string> idsOf(const Categories& categories) {
    std::vector<std::string> ids;
    for (const auto& c : categories)
        ids.push_back(c.id);
    return ids;
}

}  // namespace

SuggestionsModel::SuggestionsModel(AppModel* model) : ListModelBase(model), model_(model) {
    connect(model_, &AppModel::shorelineChanged, this, [this] {
        syncRows(rows_, idsOf(model_->shoreline()));
        refreshFindings();
    });
    connect(model_, &AppModel::shorelineCheckedChanged, this, &SuggestionsModel::refreshFindings);
    // Staging a finding turns its checkbox into "In the Cleanup List".
    connect(model_, &AppModel::lowTideChanged, this, &SuggestionsModel::refreshFindings);
}

void SuggestionsModel::refreshFindings() {
    if (!rows_.empty())
        emit dataChanged(index(0), index(static_cast<int>(rows_.size()) - 1),
                         {FindingsRole, CheckedCountRole, FindingCountRole, MoreCountRole});
    emit checkedChanged();
}

int SuggestionsModel::checkedCount() const {
    return static_cast<int>(model_->checkedFindings().size());
}

quint64 SuggestionsModel::checkedBytes() const {
    uint64_t sum = 0;
    for (const auto& f : model_->checkedFindings())
        sum = saturatingAdd(sum, f.bytes);
    return sum;
}

int SuggestionsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant SuggestionsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    const std::string& id = rows_[static_cast<size_t>(index.row())];
    const shoreline::ShorelineCategory* category = nullptr;
    for (const auto& c : model_->shoreline())
        if (c.id == id) category = &c;
    if (category == nullptr) return {};
    const auto& checked = model_->shorelineChecked();
    switch (role) {
        case IdRole:
            return text(category->id);
        case Qt::DisplayRole:
        case TitleRole:
            return text(category->title);
        case SymbolRole:
            return text(category->symbol);
        case BlurbRole:
            return text(category->blurb);
        case TotalRole:
            return QVariant::fromValue<quint64>(category->total());
        case SafeTotalRole:
            return QVariant::fromValue<quint64>(category->safeTotal());
        case FindingsRole: {
            QVariantList findings;
            const auto& home = model_->environment().home;
            for (const auto& f : category->findings) {
                if (findings.size() >= maxFindingRows) break;
                const auto& caution = f.removal.caution();
                findings.push_back(QVariantMap{
                    {"path", text(f.path)},
                    {"displayPath", text(quenwick::PathRules::abbreviatingHome(f.path, home))},
                    {"name", text(f.name)},
                    {"bytes", QVariant::fromValue<quint64>(f.bytes)},
                    {"sizeText", model_->formatBytes(f.bytes)},
                    {"safety", static_cast<int>(f.safety)},
                    {"reason", text(f.reason)},
                    {"caution", caution ? text(*caution) : QString()},
                    {"checked", checked.count(f.path) != 0},
                    {"staged", model_->isStaged(f.path)},
                });
            }
            return findings;
        }
        case CheckedCountRole: {
            int n = 0;
            for (const auto& f : category->findings)
                n += checked.count(f.path) != 0 ? 1 : 0;
            return n;
        }
        case FindingCountRole:
            return static_cast<int>(category->findings.size());
        case MoreCountRole:
            return std::max(0, static_cast<int>(category->findings.size()) - maxFindingRows);
        default:
            return {};
    }
}

QHash<int, QByteArray> SuggestionsModel::roleNames() const {
    return {{IdRole, "categoryId"},
            {TitleRole, "title"},
            {SymbolRole, "symbol"},
            {BlurbRole, "blurb"},
            {TotalRole, "total"},
            {SafeTotalRole, "safeTotal"},
            {FindingsRole, "findings"},
            {CheckedCountRole, "checkedCount"},
            {FindingCountRole, "findingCount"},
            {MoreCountRole, "moreCount"}};
}

}  // namespace brimvale
