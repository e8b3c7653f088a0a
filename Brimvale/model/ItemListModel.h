#pragma once

#include "model/NodeListModel.h"

// The item list: the focused folder's largest children (AppModel::listItems), with what a row
// shows. GUI thread only; owned by its AppModel.
namespace brimvale {

class ItemListModel : public NodeListModel {
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

    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

protected:
    std::vector<quenwick::FileTree::Node> currentNodes() const override;
};

}  // namespace brimvale
