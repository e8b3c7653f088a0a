#pragma once

#include <QUuid>

#include <vector>

#include "model/ListModelBase.h"

// The Cleanup List (AppModel::lowTide) as rows, in the order items were added. Staging appends
// rows, unstaging and removals take them away, a new measurement changes a row. GUI thread only;
// owned by its AppModel.
namespace brimvale {

class AppModel;
class StagedItem;

class CleanupListModel : public ListModelBase {
    Q_OBJECT

public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        NameRole,
        PathRole,
        BytesRole,
        SizeTextRole,
        CautionRole,
    };
    Q_ENUM(Role)

    explicit CleanupListModel(AppModel* model);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    const StagedItem* itemAt(int row) const;

    AppModel* model_;
    std::vector<QUuid> rows_;
};

}  // namespace brimvale
