#pragma once

#include <QAbstractTableModel>

#include <vector>

#include "watch/TideWatchContent.h"

// UsageChartModel: the usage chart's points as a two-column table (column 0 the date in
// milliseconds since 1970, column 1 the used GB), which the chart's model mappers read. GUI
// thread; replaced whole on every change of the history.
namespace brimvale {

class UsageChartModel : public QAbstractTableModel {
    Q_OBJECT

public:
    using QAbstractTableModel::QAbstractTableModel;

    void setPoints(std::vector<TideWatchContent::Point> points);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    std::vector<TideWatchContent::Point> points_;
};

}  // namespace brimvale
