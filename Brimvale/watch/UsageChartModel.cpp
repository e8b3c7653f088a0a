#include "watch/UsageChartModel.h"

namespace brimvale {

void UsageChartModel::setPoints(std::vector<TideWatchContent::Point> points) {
    if (points == points_) return;
    beginResetModel();
    points_ = std::move(points);
    endResetModel();
}

int UsageChartModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(points_.size());
}

int UsageChartModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant UsageChartModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) return {};
    const auto& p = points_[static_cast<size_t>(index.row())];
    return index.column() == 0 ? QVariant(p.date * 1000) : QVariant(p.value);
}

}  // namespace brimvale
