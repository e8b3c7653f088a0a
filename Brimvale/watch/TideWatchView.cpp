#include "watch/TideWatchView.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QPointF>
#include <QVariantMap>
#include <QtQml>

#include "QuenwickCore/ByteFormat.h"
#include "QuenwickCore/TideHistory.h"
#include "model/AppModel.h"
#include "watch/SparklinePlot.h"
#include "watch/TideWatchContent.h"

namespace brimvale {
namespace {

using Content = TideWatchContent;

QVariantList rowsFor(const std::vector<Content::GrowthRow>& rows) {
    QVariantList list;
    for (const auto& r : rows)
        list.push_back(QVariantMap{{"name", r.name},
                                   {"path", r.path},
                                   {"displayPath", r.displayPath},
                                   {"growthText", r.growthText},
                                   {"fraction", r.fraction}});
    return list;
}

QDateTime dateOf(double seconds) {
    return QDateTime::fromMSecsSinceEpoch(Content::milliseconds(seconds));
}

}  // namespace

TideWatchView::TideWatchView(QObject* parent) : QObject(parent), chart_(new UsageChartModel(this)) {
    refresh();
}

void TideWatchView::registerQmlTypes() {
    qmlRegisterType<TideWatchView>("Brimvale", 1, 0, "TideWatchView");
    qmlRegisterType<SparklinePlot>("Brimvale", 1, 0, "SparklinePlot");
}

void TideWatchView::setModel(AppModel* model) {
    if (model == model_) return;
    if (model_) disconnect(model_, nullptr, this, nullptr);
    model_ = model;
    if (model_) {
        connect(model_, &AppModel::historyChanged, this, &TideWatchView::refresh);
        connect(model_, &AppModel::startupVolumeChanged, this, &TideWatchView::refresh);
    }
    refresh();
    emit modelChanged();
}

void TideWatchView::setWindow(int days) {
    days = std::clamp(days, 1, 3650);
    if (days == window_) return;
    window_ = days;
    refresh();
    emit windowChanged();
}

void TideWatchView::refresh() {
    static const History none;
    static const OptionalVolume noVolume;
    const History& history = model_ ? model_->history() : none;
    const OptionalVolume& volume = model_ ? model_->startupVolume() : noVolume;
    const std::string home = model_ ? model_->environment().home : std::string();
    const auto days =
        quenwick::TideHistory::forecastDaysToFull(history, quenwick::TideSummary::now());

    hasVolume_ = volume.has_value();
    freeText_ =
        volume ? QString::fromStdString(quenwick::formatBytes(volume->availableForImportantUsage))
               : QString();
    fullness_ = std::clamp(Content::fullness(volume), 0.0, 1.0);
    percent_ = Content::wholePercent(fullness_);
    const auto forecast = Content::popoverForecast(days);
    forecastText_ = forecast ? forecast->text : QString();
    forecastWarning_ = forecast && forecast->tone == Content::Tone::warning;

    sparklinePoints_.clear();
    if (const auto line = Content::sparkline(history)) {
        for (const auto& p : line->points)
            sparklinePoints_.push_back(QPointF(p.date, p.value));
        sparklineLow_ = line->low;
        sparklineHigh_ = line->high;
    } else {
        sparklineLow_ = 0;
        sparklineHigh_ = 1;
    }

    popoverGrowth_ = rowsFor(Content::growthRows(
        quenwick::TideHistory::growthOverDays(history, Content::popoverGrowthDays),
        Content::popoverGrowthRows, home));
    popoverGrowthEmpty_ = Content::popoverGrowthEmpty(history.size());

    subtitle_ = Content::historySubtitle(history, days, QLocale());
    if (const auto chart = Content::chart(history)) {
        chartPointCount_ = static_cast<int>(chart->points.size());
        chart_->setPoints(chart->points);
        chartFirst_ = dateOf(chart->firstDate);
        chartLast_ = dateOf(chart->lastDate);
        chartAxisMax_ = chart->axisMax;
        chartAxisTicks_ = chart->axisTicks;
        hasCapacity_ = chart->capacity.has_value();
        capacity_ = chart->capacity.value_or(0);
    } else {
        chartPointCount_ = 0;
        chart_->setPoints({});
        hasCapacity_ = false;
        capacity_ = 0;
    }
    historyGrowth_ = rowsFor(Content::growthRows(
        quenwick::TideHistory::growthOverDays(history, window_), Content::historyGrowthRows, home));
    historyGrowthEmpty_ = Content::historyGrowthEmpty(history.size());
    emit changed();
}

QString TideWatchView::axisDateFormat() const {
    return Content::abbreviatedDateFormat(QLocale());
}

void TideWatchView::openMain() {
    if (model_) model_->show(AppSection::explorer);
}

void TideWatchView::openSuggestions() {
    if (model_) model_->show(AppSection::shoreline);
}

void TideWatchView::quit() {
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
}

void TideWatchView::showInFileManager(const QString& path) {
    if (!actions_) actions_ = new DesktopActions(nullptr, QDBusConnection::sessionBus(), {}, this);
    const QByteArray bytes = QFile::encodeName(path);
    actions_->reveal(std::string(bytes.constData(), bytes.size()));
}

}  // namespace brimvale
