#pragma once

#include <QAbstractItemModel>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>

#include "platform/DesktopActions.h"
#include "watch/UsageChartModel.h"

// TideWatchView: what the popover and the History section show, for QML
// (`TideWatchView { model: appModel }`): every text, row and number is TideWatchContent's, taken
// from the model's history and startup volume and recomputed when either changes (or `window`,
// the History section's growth window in days, 7 at first). Rows are lists of maps with the keys
// name, path, displayPath, growthText and fraction. Holds a non-owning pointer to the model. GUI
// thread.
namespace brimvale {

class AppModel;

class TideWatchView : public QObject {
    Q_OBJECT
    Q_MOC_INCLUDE("model/AppModel.h")
    Q_PROPERTY(brimvale::AppModel* model READ model WRITE setModel NOTIFY modelChanged)
    Q_PROPERTY(int window READ window WRITE setWindow NOTIFY windowChanged)

    Q_PROPERTY(bool hasVolume READ hasVolume NOTIFY changed)
    Q_PROPERTY(QString freeText READ freeText NOTIFY changed)
    Q_PROPERTY(int percent READ percent NOTIFY changed)
    Q_PROPERTY(double fullness READ fullness NOTIFY changed)
    Q_PROPERTY(bool nearlyFull READ nearlyFull NOTIFY changed)
    Q_PROPERTY(QString forecastText READ forecastText NOTIFY changed)
    Q_PROPERTY(bool forecastWarning READ forecastWarning NOTIFY changed)

    Q_PROPERTY(bool hasSparkline READ hasSparkline NOTIFY changed)
    Q_PROPERTY(QVariantList sparklinePoints READ sparklinePoints NOTIFY changed)
    Q_PROPERTY(double sparklineLow READ sparklineLow NOTIFY changed)
    Q_PROPERTY(double sparklineHigh READ sparklineHigh NOTIFY changed)

    Q_PROPERTY(QVariantList popoverGrowth READ popoverGrowth NOTIFY changed)
    Q_PROPERTY(QString popoverGrowthEmpty READ popoverGrowthEmpty NOTIFY changed)

    Q_PROPERTY(QString subtitle READ subtitle NOTIFY changed)
    Q_PROPERTY(bool hasChart READ hasChart NOTIFY changed)
    Q_PROPERTY(QAbstractItemModel* chartModel READ chartModel CONSTANT)
    Q_PROPERTY(int chartPointCount READ chartPointCount NOTIFY changed)
    Q_PROPERTY(QDateTime chartFirst READ chartFirst NOTIFY changed)
    Q_PROPERTY(QDateTime chartLast READ chartLast NOTIFY changed)
    Q_PROPERTY(double chartAxisMax READ chartAxisMax NOTIFY changed)
    Q_PROPERTY(int chartAxisTicks READ chartAxisTicks NOTIFY changed)
    Q_PROPERTY(QString axisDateFormat READ axisDateFormat CONSTANT)
    Q_PROPERTY(bool hasCapacity READ hasCapacity NOTIFY changed)
    Q_PROPERTY(double capacity READ capacity NOTIFY changed)
    Q_PROPERTY(QVariantList historyGrowth READ historyGrowth NOTIFY changed)
    Q_PROPERTY(QString historyGrowthEmpty READ historyGrowthEmpty NOTIFY changed)

public:
    explicit TideWatchView(QObject* parent = nullptr);

    AppModel* model() const { return model_; }
    void setModel(AppModel* model);
    int window() const { return window_; }
    void setWindow(int days);

    bool hasVolume() const { return hasVolume_; }
    QString freeText() const { return freeText_; }
    int percent() const { return percent_; }
    double fullness() const { return fullness_; }
    bool nearlyFull() const { return fullness_ > 0.9; }
    QString forecastText() const { return forecastText_; }
    bool forecastWarning() const { return forecastWarning_; }
    bool hasSparkline() const { return sparklinePoints_.size() >= 2; }
    QVariantList sparklinePoints() const { return sparklinePoints_; }
    double sparklineLow() const { return sparklineLow_; }
    double sparklineHigh() const { return sparklineHigh_; }
    QVariantList popoverGrowth() const { return popoverGrowth_; }
    QString popoverGrowthEmpty() const { return popoverGrowthEmpty_; }
    QString subtitle() const { return subtitle_; }
    bool hasChart() const { return chartPointCount_ >= 2; }
    QAbstractItemModel* chartModel() const { return chart_; }
    int chartPointCount() const { return chartPointCount_; }
    QDateTime chartFirst() const { return chartFirst_; }
    QDateTime chartLast() const { return chartLast_; }
    double chartAxisMax() const { return chartAxisMax_; }
    int chartAxisTicks() const { return chartAxisTicks_; }
    QString axisDateFormat() const;
    bool hasCapacity() const { return hasCapacity_; }
    double capacity() const { return capacity_; }
    QVariantList historyGrowth() const { return historyGrowth_; }
    QString historyGrowthEmpty() const { return historyGrowthEmpty_; }

    // The popover's buttons and the History rows' reveal button.
    Q_INVOKABLE void openMain();
    Q_INVOKABLE void openSuggestions();
    Q_INVOKABLE void quit();
    Q_INVOKABLE void showInFileManager(const QString& path);

    // Makes TideWatchView, SparklinePlot and the tray's types known to QML ("import Brimvale").
    static void registerQmlTypes();

signals:
    void modelChanged();
    void windowChanged();
    void changed();

private:
    void refresh();

    QPointer<AppModel> model_;
    // Made on first use: most views never show anything in the file manager.
    DesktopActions* actions_ = nullptr;
    int window_ = 7;
    UsageChartModel* chart_;

    bool hasVolume_ = false;
    QString freeText_;
    int percent_ = 0;
    double fullness_ = 0;
    QString forecastText_;
    bool forecastWarning_ = false;
    QVariantList sparklinePoints_;
    double sparklineLow_ = 0;
    double sparklineHigh_ = 1;
    QVariantList popoverGrowth_;
    QString popoverGrowthEmpty_;
    QString subtitle_;
    int chartPointCount_ = 0;
    QDateTime chartFirst_;
    QDateTime chartLast_;
    double chartAxisMax_ = 1;
    int chartAxisTicks_ = 2;
    bool hasCapacity_ = false;
    double capacity_ = 0;
    QVariantList historyGrowth_;
    QString historyGrowthEmpty_;
};

}  // namespace brimvale
