#include "model/BreadcrumbModel.h"

#include "model/AppModel.h"

namespace brimvale {

BreadcrumbModel::BreadcrumbModel(AppModel* model) : NodeListModel(model) {
    // The root's crumb carries the target's title.
    connect(model_, &AppModel::targetChanged, this, [this] {
        if (rows() != 0) emit dataChanged(index(0), index(0), {TitleRole, Qt::DisplayRole});
    });
}

std::vector<quenwick::FileTree::Node> BreadcrumbModel::currentNodes() const {
    return model_->breadcrumbs();
}

QVariant BreadcrumbModel::data(const QModelIndex& index, int role) const {
    const auto node = nodeAt(index);
    if (node == quenwick::FileTree::none) return {};
    switch (role) {
        case NodeRole:
            return node;
        case Qt::DisplayRole:
        case TitleRole:
            return model_->label(AppModel::Kind::node(node));
        default:
            return {};
    }
}

QHash<int, QByteArray> BreadcrumbModel::roleNames() const {
    return {{NodeRole, "node"}, {TitleRole, "title"}};
}

}  // namespace brimvale
