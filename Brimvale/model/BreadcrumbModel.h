#pragma once

#include <vector>

#include "QuenwickCore/FileTree.h"
#include "model/ListModelBase.h"

// The breadcrumbs: the folders from the tree's root to the focused folder (AppModel::breadcrumbs),
// each with its title. Going deeper appends rows, going up removes them; a new tree resets it.
// GUI thread only; owned by its AppModel.
namespace brimvale {

class AppModel;

class BreadcrumbModel : public ListModelBase {
    Q_OBJECT

public:
    enum Role { NodeRole = Qt::UserRole + 1, TitleRole };
    Q_ENUM(Role)

    explicit BreadcrumbModel(AppModel* model);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    void follow(bool treeReplaced);

    AppModel* model_;
    std::vector<quenwick::FileTree::Node> rows_;
};

}  // namespace brimvale
