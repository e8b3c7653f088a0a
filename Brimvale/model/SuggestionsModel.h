#pragma once

#include <string>
#include <vector>

#include "model/ListModelBase.h"

// The suggestions (AppModel::shoreline): one row per category, largest first, with its findings
// and which of them are ticked. A removal that empties a category removes its row; ticking
// changes the rows' findings in place. A row lists at most maxFindingRows findings (the engine's
// first ones) and says how many more there are. GUI thread only; owned by its AppModel.
namespace brimvale {

class AppModel;

class SuggestionsModel : public ListModelBase {
    Q_OBJECT
    // The ticked findings that "Send" would stage (ticked and not yet in the Cleanup List).
    Q_PROPERTY(int checkedCount READ checkedCount NOTIFY checkedChanged)
    Q_PROPERTY(quint64 checkedBytes READ checkedBytes NOTIFY checkedChanged)

public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        TitleRole,
        SymbolRole,
        BlurbRole,
        TotalRole,
        SafeTotalRole,
        // A list of at most maxFindingRows {path, displayPath ("~" for home), name, bytes,
        // sizeText, safety, reason, caution, checked, staged} maps.
        FindingsRole,
        CheckedCountRole,
        FindingCountRole,
        // Findings beyond the listed ones.
        MoreCountRole,
    };
    Q_ENUM(Role)

    static constexpr int maxFindingRows = 200;

    explicit SuggestionsModel(AppModel* model);

    int checkedCount() const;
    quint64 checkedBytes() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void checkedChanged();

private:
    void refreshFindings();

    AppModel* model_;
    std::vector<std::string> rows_;
};

}  // namespace brimvale
