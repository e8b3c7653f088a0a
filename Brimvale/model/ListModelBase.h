#pragma once

#include <QAbstractListModel>

#include <algorithm>
#include <unordered_map>
#include <vector>

// The common ground of the app's list models: rows identified by a unique key, and the change of
// one list of keys into another as the removals, moves and insertions that views animate, followed
// by one dataChanged over what stayed (its figures may have changed). A reset is only for a list
// whose keys mean something else now (a new tree). GUI thread only.
namespace brimvale {

class ListModelBase : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

protected:
    template <class Key, class Hash = std::hash<Key>>
    void syncRows(std::vector<Key>& rows, const std::vector<Key>& next) {
        std::unordered_map<Key, int, Hash> wanted;
        for (size_t i = 0; i < next.size(); ++i)
            wanted.emplace(next[i], static_cast<int>(i));
        // Removals, from the back, in runs.
        for (int i = static_cast<int>(rows.size()) - 1; i >= 0;) {
            if (wanted.count(rows[static_cast<size_t>(i)]) != 0) {
                --i;
                continue;
            }
            int first = i;
            while (first > 0 && wanted.count(rows[static_cast<size_t>(first - 1)]) == 0)
                --first;
            beginRemoveRows({}, first, i);
            rows.erase(rows.begin() + first, rows.begin() + i + 1);
            endRemoveRows();
            i = first - 1;
        }
        // Then every position in turn: already right, moved up from further down, or new.
        for (size_t i = 0; i < next.size(); ++i) {
            if (i < rows.size() && rows[i] == next[i]) continue;
            const auto found = std::find(rows.begin() + static_cast<long>(i), rows.end(), next[i]);
            const int at = static_cast<int>(i);
            if (found != rows.end()) {
                const int from = static_cast<int>(found - rows.begin());
                beginMoveRows({}, from, from, {}, at);
                Key key = *found;
                rows.erase(found);
                rows.insert(rows.begin() + at, std::move(key));
                endMoveRows();
            } else {
                beginInsertRows({}, at, at);
                rows.insert(rows.begin() + at, next[i]);
                endInsertRows();
            }
        }
        if (!rows.empty()) emit dataChanged(index(0), index(static_cast<int>(rows.size()) - 1));
    }

    template <class Key>
    void resetRows(std::vector<Key>& rows, std::vector<Key> next) {
        beginResetModel();
        rows = std::move(next);
        endResetModel();
    }
};

}  // namespace brimvale
