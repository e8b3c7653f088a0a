#pragma once

#include <vector>

#include "QuenwickCore/FileTree.h"
#include "model/ListModelBase.h"

// The item list: the focused folder's largest children (AppModel::listItems), with what a row
// shows. Follows the model: a removal or a new focus becomes row removals, moves and insertions;
// only a new tree resets it. GUI thread only; owned by its AppModel.
namespace brimvale {

class AppModel;

class ItemListModel : public ListModelBase {
    Q_OBJECT

public:
    enum Role {
        NodeRole = Qt::UserRole + 1,
        NameRole,
        BytesRole,
        SizeTextRole,
        IsDirectoryRole,
        StageStateRole,
    };
    Q_ENUM(Role)

    explicit ItemListModel(AppModel* model);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    void follow(bool treeReplaced);

    AppModel* model_;
    std::vector<quenwick::FileTree::Node> rows_;
};

}  // namespace brimvale
