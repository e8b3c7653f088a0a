#include "model/NodeListModel.h"

#include "model/AppModel.h"

namespace brimvale {

using quenwick::FileTree;

NodeListModel::NodeListModel(AppModel* model) : ListModelBase(model), model_(model) {
    connect(model_, &AppModel::listingChanged, this, &NodeListModel::follow);
}

void NodeListModel::follow(bool treeReplaced) {
    if (treeReplaced) {
        resetRows(rows_, currentNodes());
    } else {
        syncRows(rows_, currentNodes());
    }
}

int NodeListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows();
}

FileTree::Node NodeListModel::nodeAt(const QModelIndex& index) const {
    const auto& tree = model_->tree();
    if (!index.isValid() || index.row() >= rows() || !tree) return FileTree::none;
    const auto node = rows_[static_cast<size_t>(index.row())];
    return node < tree->count() ? node : FileTree::none;
}

}  // namespace brimvale
