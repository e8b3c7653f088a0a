#include "model/CleanupListModel.h"

#include "model/AppModel.h"

namespace brimvale {

namespace {

struct UuidHash {
    size_t operator()(const QUuid& id) const { return qHash(id); }
};

std::vector<QUuid> idsOf(const StagedItems& items) {
    std::vector<QUuid> ids;
    ids.reserve(items.size());
    for (const auto& i : items)
        ids.push_back(i.id);
    return ids;
}

}  // namespace

CleanupListModel::CleanupListModel(AppModel* model) : ListModelBase(model), model_(model) {
    connect(model_, &AppModel::lowTideChanged, this,
            [this] { syncRows<QUuid, UuidHash>(rows_, idsOf(model_->lowTide())); });
}

const StagedItem* CleanupListModel::itemAt(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
    const QUuid& id = rows_[static_cast<size_t>(row)];
    const auto& items = model_->lowTide();
    // Rows follow the list's order, except for a moment while they are being brought in line.
    if (static_cast<size_t>(row) < items.size() && items[static_cast<size_t>(row)].id == id)
        return &items[static_cast<size_t>(row)];
    for (const auto& i : items)
        if (i.id == id) return &i;
    return nullptr;
}

int CleanupListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant CleanupListModel::data(const QModelIndex& index, int role) const {
    const StagedItem* item = index.isValid() ? itemAt(index.row()) : nullptr;
    if (item == nullptr) return {};
    switch (role) {
        case IdRole:
            return item->id;
        case Qt::DisplayRole:
        case NameRole:
            return item->name;
        case PathRole:
            return item->displayPath();
        case BytesRole:
            return QVariant::fromValue<quint64>(item->bytes);
        case SizeTextRole:
            return model_->formatBytes(item->bytes);
        case CautionRole:
            return item->caution();
        default:
            return {};
    }
}

QHash<int, QByteArray> CleanupListModel::roleNames() const {
    return {{IdRole, "itemId"},   {NameRole, "name"},         {PathRole, "path"},
            {BytesRole, "bytes"}, {SizeTextRole, "sizeText"}, {CautionRole, "caution"}};
}

}  // namespace brimvale
