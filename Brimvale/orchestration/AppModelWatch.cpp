// The watch loop: every tick the startup volume and the trash ledger are refreshed, then the
// tree is caught up quietly when it is old, or the low-space alert is judged on the volume alone.
// An unmount anywhere shows at once through the mount table's change notification.
#include <fcntl.h>
#include <unistd.h>

#include "QuenwickCore/TideHistory.h"
#include "model/AppModel.h"
#include "orchestration/AppJournalRecorder.h"

namespace brimvale {

using quenwick::VolumeInfo;

void AppModel::startTideWatch() {
    startTideWatch(WatchPeriods{});
}

void AppModel::startTideWatch(WatchPeriods periods) {
    // Nothing of this machine is watched for the fictional one.
    if (watchTimer_.isActive() || demo_) return;
    watchPeriods_ = periods;
    runInBackground(
        serial_,
        [store = quenwick::TideHistory(env_.dataHome + "/Brimvale/History")] {
            return store.load();
        },
        [this](History history) { setHistory(std::move(history)); });
    refreshTrashLedger();
    connect(&watchTimer_, &QTimer::timeout, this, &AppModel::watchTick, Qt::UniqueConnection);
    watchTimer_.start(watchPeriods_.tick);
    watchMounts();
    // From now on the app records the changes below the roots it shows (unless a service does).
    journal_ = std::make_unique<AppJournalRecorder>();
    if (tree_) journal_->cover(target_.rootPath(env_.home));
}

void AppModel::watchTick() {
    refreshTrashLedger();
    runInBackground(
        pool_, [] { return VolumeInfo::containing("/"); },
        [this](OptionalVolume startup) {
            setStartupVolume(startup);
            const auto age = std::chrono::system_clock::now() - lastRefresh_;
            if (phase_ == Phase::ready && age > watchPeriods_.catchUpAge) {
                lastRefresh_ = std::chrono::system_clock::now();
                load(target_, true);
                return;
            }
            evaluateAlerts(false);
        });
}

void AppModel::watchMounts() {
    if (mountWatch_) return;
    // The kernel flags the mount table with POLLPRI whenever a mount comes or goes.
    mountInfoFd_ = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (mountInfoFd_ < 0) return;
    mountWatch_ = std::make_unique<QSocketNotifier>(mountInfoFd_, QSocketNotifier::Exception);
    connect(mountWatch_.get(), &QSocketNotifier::activated, this, [this] {
        runInBackground(
            pool_, [] { return VolumeInfo::containing("/"); },
            [this](OptionalVolume startup) {
                setStartupVolume(startup);
                emit mountsChanged();
            });
    });
}

}  // namespace brimvale
