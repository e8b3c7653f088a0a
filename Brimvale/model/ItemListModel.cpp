#include "model/ItemListModel.h"

#include "model/AppModel.h"

namespace brimvale {

ItemListModel::ItemListModel(AppModel* model) : NodeListModel(model) {
    connect(model_, &AppModel::lowTideChanged, this, [this] {
        if (rows() != 0) emit dataChanged(index(0), index(rows() - 1), {StageStateRole});
    });
}

std::vector<quenwick::FileTree::Node> ItemListModel::currentNodes() const {
    return model_->listItems();
}

QVariant ItemListModel::data(const QModelIndex& index, int role) const {
    const auto node = nodeAt(index);
    if (node == quenwick::FileTree::none) return {};
    const auto& tree = *model_->tree();
    switch (role) {
        case NodeRole:
            return node;
        case Qt::DisplayRole:
        case NameRole:
            return model_->label(AppModel::Kind::node(node));
        case BytesRole:
            return QVariant::fromValue<quint64>(tree.size(node));
        case SizeTextRole:
            return model_->formatBytes(tree.size(node));
        case IsDirectoryRole:
            return tree.isDirectory(node);
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
