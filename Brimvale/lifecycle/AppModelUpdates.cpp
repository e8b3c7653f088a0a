// "Check for Updates…" and the daily check: the updater reads the version list from the URL in
// the settings; a newer version is told in a notice with its link. Nothing is ever fetched while
// the URL is empty, and a build without the updater answers that there is nothing to check.
#include "model/AppModel.h"

#ifdef BRIMVALE_HAS_UPDATER
#include "lifecycle/Updater.h"
#endif

namespace brimvale {

#ifdef BRIMVALE_HAS_UPDATER

void AppModel::ensureUpdater() {
    const QUrl feed(settings_.updateFeedURL());
    if (updater_ && updaterFeed_ == feed) return;
    updaterFeed_ = feed;
    updater_ = std::make_shared<Updater>(feed, QString(BRIMVALE_VERSION));
    connect(updater_.get(), &Updater::checked, this, [this](const UpdateCheck& result) {
        const bool asked = updateAsked_;
        updateAsked_ = false;
        switch (result.outcome) {
            case UpdateCheck::Outcome::newer:
                raise("Brimvale " + result.version + " is available: " + result.link.toString(),
                      false);
                break;
            case UpdateCheck::Outcome::upToDate:
                if (asked) raise("Brimvale is up to date.", false);
                break;
            case UpdateCheck::Outcome::failed:
                // The daily check fails quietly; the user asking is told.
                if (asked) raise("Couldn't check for updates (" + result.error + ").", true);
                break;
        }
        emit updateChecked();
    });
}

bool AppModel::checkForUpdates() {
    if (settings_.updateFeedURL().isEmpty()) return false;
    ensureUpdater();
    if (!updater_->checkNow()) return false;
    updateAsked_ = true;
    return true;
}

void AppModel::startUpdateChecks(std::chrono::milliseconds period) {
    updatePeriod_ = period;
    if (settings_.updateFeedURL().isEmpty() || !settings_.automaticUpdateChecks()) {
        if (updater_) updater_->setAutomaticChecks(false);
        return;
    }
    ensureUpdater();
    updater_->setAutomaticChecks(true, period);
}

bool AppModel::automaticUpdateChecks() const {
    return updater_ && updater_->automaticChecks();
}

#else

bool AppModel::checkForUpdates() {
    return false;
}

void AppModel::startUpdateChecks(std::chrono::milliseconds) {}

bool AppModel::automaticUpdateChecks() const {
    return false;
}

#endif

void AppModel::setAutomaticUpdateChecks(bool on) {
    settings_.setAutomaticUpdateChecks(on);
    startUpdateChecks(updatePeriod_);
}

}  // namespace brimvale
