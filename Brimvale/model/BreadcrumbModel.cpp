#include "model/BreadcrumbModel.h"

#include "model/AppModel.h"

namespace brimvale {

BreadcrumbModel::BreadcrumbModel(AppModel* model) : ListModelBase(model), model_(model) {
    connect(model_, &AppModel::listingChanged, this, &BreadcrumbModel::follow);
    // The root's crumb carries the target's title.
    connect(model_, &AppModel::targetChanged, this, [this] {
        if (!rows_.empty()) emit dataChanged(index(0), index(0), {TitleRole, Qt::DisplayRole});
    });
}

void BreadcrumbModel::follow(bool treeReplaced) {
    if (treeReplaced) {
        resetRows(rows_, model_->breadcrumbs());
    } else {
        syncRows(rows_, model_->breadcrumbs());
    }
}

int BreadcrumbModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant BreadcrumbModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    const auto node = rows_[static_cast<size_t>(index.row())];
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
