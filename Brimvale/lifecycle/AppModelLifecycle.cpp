// The app's life as the model sees it: sections, the tour, alerts posted as desktop notifications
// and their clicks, and the growth lists.
#include <QCoreApplication>
#include <QProcess>

#include "QuenwickCore/DesktopNotifications.h"
#include "QuenwickCore/Preferences.h"
#include "QuenwickCore/TideAlerts.h"
#include "QuenwickCore/TideHistory.h"
#include "QuenwickCore/TideSummary.h"
#include "lifecycle/TourSteps.h"
#include "model/AppModel.h"

namespace brimvale {

void AppModel::show(AppSection section) {
    setSection(section);
    if (openMainWindow_) openMainWindow_();
}

AppSection AppModel::sectionForNotification(const std::string& section) {
    return section == "shoreline" ? AppSection::shoreline : AppSection::history;
}

void AppModel::showTourStep(int index) {
    if (index < 0) return;
    if (index >= tourSteps) {
        settings_.setTourSeen(true);
        endTour();
        return;
    }
    setSection(TourStep::at(index)->section);
    setTourStep(index);
}

void AppModel::skipTour() {
    settings_.setTourSeen(true);
    endTour();
}

bool AppModel::startTourIfDue() {
    if (phase_ != Phase::ready || tourStep_ || settings_.tourSeen()) return false;
    showTourStep(0);
    return true;
}

QVariantMap AppModel::tourCard() const {
    return tourStep_ ? TourStep::card(*tourStep_) : QVariantMap();
}

void AppModel::endTour() {
    setTourStep(std::nullopt);
    setSection(AppSection::explorer);
}

std::vector<quenwick::Growth> AppModel::growth(int days) const {
    return quenwick::TideHistory::growthOverDays(history_, days);
}

void AppModel::post(const quenwick::TideAlert& alert) {
    const std::string kind(alert.kind());
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    auto preferences = quenwick::Preferences::atFile(settings_.file());
    // One post of a kind at a time: a second evaluation before the desktop answered would
    // otherwise post it twice.
    if (alertsInFlight_.count(kind) != 0 ||
        quenwick::TideAlerts::gate(alert, preferences, now) != quenwick::TideAlerts::Gate::due)
        return;
    if (!notifications_) {
        notifications_ = std::make_unique<quenwick::DesktopNotifications>(notificationBus_);
        notifications_->watchActions(
            this, [this](uint32_t id, const std::string&) { onNotificationAction(id); });
    }
    const auto notification = quenwick::TideAlerts::notification(alert, env_.home);
    alertsInFlight_.insert(kind);
    notifications_->postAsync(
        notification, this,
        [this, alert, kind, now,
         section = notification.section](quenwick::DesktopNotifications::Posted posted) {
            alertsInFlight_.erase(kind);
            const bool answered = posted.delivery != quenwick::TideAlerts::Delivery::unanswered;
            if (answered) {
                auto prefs = quenwick::Preferences::atFile(settings_.file());
                prefs.setTimestamp(quenwick::TideAlerts::rateLimitKey(alert), now);
                (void)prefs.sync();
            }
            if (posted.id) notificationSections_[*posted.id] = section;
            emit alertSettled(QString::fromStdString(kind), answered);
        });
}

bool AppModel::relaunch(const QString& program) {
    // The shell waits, so this instance has given up the bus name before the next one claims it.
    const bool started =
        QProcess::startDetached("/bin/sh", {"-c", "sleep 0.6; exec \"$0\"", program});
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
    return started;
}

void AppModel::onNotificationAction(uint32_t id) {
    const auto it = notificationSections_.find(id);
    show(sectionForNotification(it == notificationSections_.end() ? std::string() : it->second));
}

}  // namespace brimvale
