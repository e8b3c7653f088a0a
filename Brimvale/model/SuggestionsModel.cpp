#include "model/SuggestionsModel.h"

#include <QVariantMap>

#include "QuenwickCore/Utf8.h"
#include "model/AppModel.h"

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
    connect(model_, &AppModel::shorelineChanged, this,
            [this] { syncRows(rows_, idsOf(model_->shoreline())); });
    connect(model_, &AppModel::shorelineCheckedChanged, this, [this] {
        if (!rows_.empty())
            emit dataChanged(index(0), index(static_cast<int>(rows_.size()) - 1),
                             {FindingsRole, CheckedCountRole});
    });
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
            for (const auto& f : category->findings) {
                const auto& caution = f.removal.caution();
                findings.push_back(QVariantMap{
                    {"path", text(f.path)},
                    {"name", text(f.name)},
                    {"bytes", QVariant::fromValue<quint64>(f.bytes)},
                    {"sizeText", model_->formatBytes(f.bytes)},
                    {"safety", static_cast<int>(f.safety)},
                    {"reason", text(f.reason)},
                    {"caution", caution ? text(*caution) : QString()},
                    {"checked", checked.count(f.path) != 0},
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
        default:
            return {};
    }
}

QHash<int, QByteArray> SuggestionsModel::roleNames() const {
    return {{IdRole, "categoryId"},     {TitleRole, "title"},
            {SymbolRole, "symbol"},     {BlurbRole, "blurb"},
            {TotalRole, "total"},       {SafeTotalRole, "safeTotal"},
            {FindingsRole, "findings"}, {CheckedCountRole, "checkedCount"}};
}

}  // namespace brimvale
