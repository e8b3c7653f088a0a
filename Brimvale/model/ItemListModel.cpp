#include "model/ItemListModel.h"

#include "model/AppModel.h"

namespace brimvale {

ItemListModel::ItemListModel(AppModel* model) : ListModelBase(model), model_(model) {
    connect(model_, &AppModel::listingChanged, this, &ItemListModel::follow);
    connect(model_, &AppModel::lowTideChanged, this, [this] {
        if (!rows_.empty())
            emit dataChanged(index(0), index(static_cast<int>(rows_.size()) - 1), {StageStateRole});
    });
}

void ItemListModel::follow(bool treeReplaced) {
    if (treeReplaced) {
        resetRows(rows_, model_->listItems());
    } else {
        syncRows(rows_, model_->listItems());
    }
}

int ItemListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant ItemListModel::data(const QModelIndex& index, int role) const {
    const auto& tree = model_->tree();
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size()) || !tree) return {};
    const auto node = rows_[static_cast<size_t>(index.row())];
    if (node >= tree->count()) return {};
    switch (role) {
        case NodeRole:
            return node;
        case Qt::DisplayRole:
        case NameRole:
            return model_->label(AppModel::Kind::node(node));
        case BytesRole:
            return QVariant::fromValue<quint64>(tree->size(node));
        case SizeTextRole:
            return model_->formatBytes(tree->size(node));
        case IsDirectoryRole:
            return tree->isDirectory(node);
        case StageStateRole:
            return QVariant::fromValue(model_->stageState(node));
        default:
            return {};
    }
}

QHash<int, QByteArray> ItemListModel::roleNames() const {
    return {{NodeRole, "node"},
            {NameRole, "name"},
            {BytesRole, "bytes"},
            {SizeTextRole, "sizeText"},
            {IsDirectoryRole, "isDirectory"},
            {StageStateRole, "stageState"}};
}

}  // namespace brimvale
