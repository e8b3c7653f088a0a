#pragma once

#include "model/NodeListModel.h"

// The breadcrumbs: the folders from the tree's root to the focused folder (AppModel::breadcrumbs),
// each with its title. Going deeper appends rows, going up removes them. GUI thread only; owned
// by its AppModel.
namespace brimvale {

class BreadcrumbModel : public NodeListModel {
    Q_OBJECT

public:
    enum Role { NodeRole = Qt::UserRole + 1, TitleRole };
    Q_ENUM(Role)

    explicit BreadcrumbModel(AppModel* model);

    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

protected:
    std::vector<quenwick::FileTree::Node> currentNodes() const override;
};

}  // namespace brimvale
