#pragma once

#include <string>
#include <vector>

#include "model/ListModelBase.h"

// The suggestions (AppModel::shoreline): one row per category, largest first, with its findings
// and which of them are ticked. A removal that empties a category removes its row; ticking
// changes the rows' findings in place. GUI thread only; owned by its AppModel.
namespace brimvale {

class AppModel;

class SuggestionsModel : public ListModelBase {
    Q_OBJECT

public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        TitleRole,
        SymbolRole,
        BlurbRole,
        TotalRole,
        SafeTotalRole,
        // A list of {path, name, bytes, sizeText, safety, reason, caution, checked} maps.
        FindingsRole,
        CheckedCountRole,
    };
    Q_ENUM(Role)

    explicit SuggestionsModel(AppModel* model);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    AppModel* model_;
    std::vector<std::string> rows_;
};

}  // namespace brimvale
