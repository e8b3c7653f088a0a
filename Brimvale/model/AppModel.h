#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <QVariant>
#include <QVariantMap>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "QuenwickCore/DeletionGuard.h"
#include "QuenwickCore/Eraser.h"
#include "QuenwickCore/FileTree.h"
#include "QuenwickCore/Growth.h"
#include "QuenwickCore/ScanControl.h"
#include "QuenwickCore/ScanOptions.h"
#include "QuenwickCore/TideAlert.h"
#include "QuenwickCore/TideSummary.h"
#include "QuenwickCore/TrashLedger.h"
#include "QuenwickCore/VolumeInfo.h"
#include "RingKit/RingMorph.h"
#include "RingKit/RingSegment.h"
#include "Shoreline/ShorelineCategory.h"
#include "lifecycle/AppSettings.h"
#include "lifecycle/TourSteps.h"
#include "model/AppEnums.h"
#include "model/AppEnvironment.h"
#include "model/BreadcrumbModel.h"
#include "model/CleanupListModel.h"
#include "model/ItemListModel.h"
#include "model/Notice.h"
#include "model/ScanTarget.h"
#include "model/StagedItem.h"
#include "model/StorageSummary.h"
#include "model/SuggestionsModel.h"
#include "model/TrashResult.h"
#include "orchestration/AdminHelper.h"

namespace helperkit {
class HelperSession;
}  // namespace helperkit

namespace quenwick {
class DesktopNotifications;
class DiskScanner;
}  // namespace quenwick

// AppModel: the one owner of the app's state (the tree on screen, the ring laid out from it, the
// focus, the Cleanup List, the suggestions, the history, the trash ledger and the notice) and the
// operations the views call. Views only read its properties and call its operations.
//
// GUI thread only. Work that touches the disk (the guard's look at the machine, the Trash, the
// eraser, the ledger file, measuring a dropped folder, volume figures) runs on the model's own
// worker threads; results hop back to the GUI thread, and results about a tree that has since
// been replaced are applied to the list and the ledger but never to the new tree. Every observed
// property notifies only on a real change. The destructor waits for the model's workers.
namespace brimvale {

using Segments = std::vector<ringkit::RingSegment>;
using Categories = std::vector<shoreline::ShorelineCategory>;
using PathSet = std::set<std::string>;
using History = std::vector<quenwick::TideSummary>;
using StagedItems = std::vector<StagedItem>;
using OptionalVolume = std::optional<quenwick::VolumeInfo>;
using OptionalProgress = std::optional<quenwick::ScanProgress>;
using OptionalKind = std::optional<ringkit::RingSegment::Kind>;
using LedgerState = quenwick::TrashLedger::State;

class AppJournalRecorder;
class Updater;
class DemoMachine;

class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(brimvale::AppSection section READ section WRITE setSection NOTIFY sectionChanged)
    Q_PROPERTY(QVariant tourStep READ tourStepValue NOTIFY tourStepChanged)
    Q_PROPERTY(brimvale::LedgerState trashLedger READ trashLedger NOTIFY trashLedgerChanged)
    Q_PROPERTY(quint64 ledgerWaitingBytes READ ledgerWaitingBytes NOTIFY trashLedgerChanged)
    Q_PROPERTY(quint64 ledgerFreedBytes READ ledgerFreedBytes NOTIFY trashLedgerChanged)
    Q_PROPERTY(quint64 erasingBytes READ erasingBytes NOTIFY erasingBytesChanged)
    Q_PROPERTY(brimvale::Categories shoreline READ shoreline NOTIFY shorelineChanged)
    Q_PROPERTY(
        brimvale::ShorelinePhase shorelinePhase READ shorelinePhase NOTIFY shorelinePhaseChanged)
    Q_PROPERTY(
        brimvale::PathSet shorelineChecked READ shorelineChecked NOTIFY shorelineCheckedChanged)
    Q_PROPERTY(quint64 trashBytes READ trashBytes NOTIFY trashBytesChanged)
    Q_PROPERTY(bool adminScan READ adminScan NOTIFY adminScanChanged)
    Q_PROPERTY(brimvale::History history READ history NOTIFY historyChanged)
    Q_PROPERTY(
        brimvale::OptionalVolume startupVolume READ startupVolume NOTIFY startupVolumeChanged)
    Q_PROPERTY(brimvale::ScanTarget target READ target NOTIFY targetChanged)
    Q_PROPERTY(QString targetTitle READ targetTitle NOTIFY targetChanged)
    Q_PROPERTY(brimvale::Phase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(brimvale::OptionalProgress progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(quint32 focus READ focus WRITE focusOn NOTIFY focusChanged)
    Q_PROPERTY(brimvale::Segments segments READ segments NOTIFY segmentsChanged)
    Q_PROPERTY(qint64 layoutID READ layoutID NOTIFY layoutIDChanged)
    Q_PROPERTY(brimvale::OptionalKind hovered READ hovered NOTIFY hoveredChanged)
    Q_PROPERTY(brimvale::OptionalVolume volume READ volume NOTIFY volumeChanged)
    Q_PROPERTY(brimvale::StagedItems lowTide READ lowTide NOTIFY lowTideChanged)
    Q_PROPERTY(quint64 stagedBytes READ stagedBytes NOTIFY lowTideChanged)
    Q_PROPERTY(QVariant notice READ noticeValue NOTIFY noticeChanged)
    Q_PROPERTY(bool hasFullDiskAccess READ hasFullDiskAccess NOTIFY hasFullDiskAccessChanged)
    Q_PROPERTY(qint64 revision READ revision NOTIFY revisionChanged)
    Q_PROPERTY(double fullness READ fullness NOTIFY fullnessChanged)
    Q_PROPERTY(QVariant storage READ storageValue NOTIFY storageChanged)
    Q_PROPERTY(quint64 shorelineSafeBytes READ shorelineSafeBytes NOTIFY shorelineChanged)
    Q_PROPERTY(quint64 shorelineTotalBytes READ shorelineTotalBytes NOTIFY shorelineChanged)
    Q_PROPERTY(bool removing READ removing NOTIFY removingChanged)
    Q_PROPERTY(brimvale::ItemListModel* items READ items CONSTANT)
    Q_PROPERTY(brimvale::BreadcrumbModel* breadcrumbModel READ breadcrumbModel CONSTANT)
    Q_PROPERTY(brimvale::CleanupListModel* cleanupList READ cleanupList CONSTANT)
    Q_PROPERTY(brimvale::SuggestionsModel* suggestions READ suggestions CONSTANT)

public:
    using Node = quenwick::FileTree::Node;
    using Kind = ringkit::RingSegment::Kind;

    // What the model works with; current() is this user's.
    struct Services {
        AppEnvironment environment;
        // A fresh guard with a current view of the machine; called on worker threads.
        std::function<quenwick::DeletionGuard()> guardian;
        std::shared_ptr<quenwick::Eraser> eraser;
        quenwick::TrashLedger ledger;
        // Where notifications go: empty for the session bus, else a bus address (tests).
        std::string notificationBus;
        // Where the administrator scan finds the helper, and what it must answer.
        AdminHelper::Options admin;
        // Demo mode: the fictional machine shown instead of this one; null for this one.
        std::shared_ptr<const DemoMachine> demo;

        [[nodiscard]] static Services current();
        // A fictional machine's: its folders and guard, and nothing that touches this one.
        [[nodiscard]] static Services demoMachine(std::shared_ptr<const DemoMachine> machine);
        // The current user's guard and ledger, an eraser staging into env's cache folder.
        [[nodiscard]] static Services forEnvironment(AppEnvironment env);
    };

    // The list shows at most this many of a folder's children.
    static constexpr size_t maxListItems = 500;
    static constexpr int maxDepth = 5;

    explicit AppModel(Services services, QObject* parent = nullptr);
    ~AppModel() override;

    // The process's model, made on first use as a child of the application object.
    [[nodiscard]] static AppModel& shared();
    // Before the first shared(): it shows the fictional machine of demo mode, as of now.
    static void useDemoData();
    bool demoMode() const { return demo_ != nullptr; }
    // Makes the value types and enumerations known to QML.
    static void registerQmlTypes();

    // Observed state.
    AppSection section() const { return section_; }
    void setSection(AppSection section);
    std::optional<int> tourStep() const { return tourStep_; }
    QVariant tourStepValue() const;
    void setTourStep(std::optional<int> step);
    const LedgerState& trashLedger() const { return trashLedger_; }
    quint64 ledgerWaitingBytes() const { return trashLedger_.waitingBytes(); }
    quint64 ledgerFreedBytes() const { return trashLedger_.freedBytes; }
    quint64 erasingBytes() const { return erasingBytes_; }
    const Categories& shoreline() const { return shoreline_; }
    void setShoreline(Categories categories);
    ShorelinePhase shorelinePhase() const { return shorelinePhase_; }
    void setShorelinePhase(ShorelinePhase phase);
    const PathSet& shorelineChecked() const { return shorelineChecked_; }
    quint64 trashBytes() const { return trashBytes_; }
    void setTrashBytes(quint64 bytes);
    bool adminScan() const { return adminScan_; }
    void setAdminScan(bool admin);
    const History& history() const { return history_; }
    void setHistory(History history);
    const OptionalVolume& startupVolume() const { return startupVolume_; }
    void setStartupVolume(OptionalVolume volume);
    const ScanTarget& target() const { return target_; }
    void setTarget(ScanTarget target);
    QString targetTitle() const { return target_.title(env_.startupDiskName); }
    Phase phase() const { return phase_; }
    void setPhase(Phase phase);
    const OptionalProgress& progress() const { return progress_; }
    void setProgress(OptionalProgress progress);
    Node focus() const { return focus_; }
    const Segments& segments() const { return segments_; }
    qint64 layoutID() const { return layoutID_; }
    const OptionalKind& hovered() const { return hovered_; }
    void setHovered(OptionalKind kind);
    Q_INVOKABLE void hoverNode(quint32 node) { setHovered(Kind::node(node)); }
    Q_INVOKABLE void clearHovered() { setHovered(std::nullopt); }
    const OptionalVolume& volume() const { return volume_; }
    void setVolume(OptionalVolume volume);
    const StagedItems& lowTide() const { return lowTide_; }
    const std::optional<Notice>& notice() const { return notice_; }
    QVariant noticeValue() const;
    void setNotice(std::optional<Notice> notice);
    bool hasFullDiskAccess() const { return hasFullDiskAccess_; }
    void setHasFullDiskAccess(bool access);
    qint64 revision() const { return revision_; }
    bool removing() const { return removing_; }

    // Unobserved state.
    const std::shared_ptr<quenwick::FileTree>& tree() const { return tree_; }
    const Segments& previousSegments() const { return previousSegments_; }
    // For each previous segment, the path of its node (for `smaller`, of its folder; "" for
    // `hidden` and `purgeable`), taken from the tree it was laid out from: node indices of two
    // trees name different folders, paths do not.
    const std::vector<std::string>& previousSegmentPaths() const { return previousPaths_; }
    // The morph from previousSegments to segments, for the renderer: arcs paired by kind, and
    // across two trees by path, so that a folder found again in a new tree moves from its old
    // place.
    [[nodiscard]] ringkit::RingMorph::Result morph() const;
    std::chrono::system_clock::time_point lastRefresh() const { return lastRefresh_; }
    void setLastRefresh(std::chrono::system_clock::time_point at) { lastRefresh_ = at; }
    // Opens (or brings forward) the main window; set once the windowing side exists.
    const std::function<void()>& openMainWindow() const { return openMainWindow_; }
    void setOpenMainWindow(std::function<void()> open) { openMainWindow_ = std::move(open); }
    const AppEnvironment& environment() const { return env_; }

    // Shows a finished tree (with the figures of the volume holding it): keeps the focused folder
    // by path when a tree was on screen, else focuses the root; phase becomes `ready`.
    void installTree(std::shared_ptr<quenwick::FileTree> tree, OptionalVolume volume);
    // Drops the tree on screen (a full scan starts from nothing).
    void dropTree();

    // Navigation and listing.
    Q_INVOKABLE void focusOn(quint32 node);
    Q_INVOKABLE void goUp();
    [[nodiscard]] std::vector<Node> breadcrumbs() const;
    [[nodiscard]] std::vector<Node> listItems() const;
    void relayout();
    [[nodiscard]] uint64_t size(const Kind& kind) const;
    [[nodiscard]] QString label(const Kind& kind) const;
    double fullness() const;
    [[nodiscard]] std::optional<StorageSummary> storage() const;
    QVariant storageValue() const;

    // The Cleanup List. Staging judges the path on a worker thread; the entry (or the notice that
    // explains why there is none) arrives a moment later.
    Q_INVOKABLE void stage(const QString& path);
    void stagePath(const std::string& path);
    // Several paths at once (a drop from the file manager), judged in one batch.
    void stagePaths(const std::vector<std::string>& paths);
    // Stages a node of the tree on screen by its exact path (the ring's menu); never unstages.
    Q_INVOKABLE void stageNode(quint32 node);
    Q_INVOKABLE void unstage(const QUuid& id);
    Q_INVOKABLE void toggleStaged(quint32 node);
    [[nodiscard]] bool isStaged(const std::string& path) const;
    Q_INVOKABLE brimvale::StageState stageState(quint32 node) const;
    quint64 stagedBytes() const;

    // Ticking suggestions.
    void toggle(const shoreline::Finding& finding);
    // The same for the finding at a row of a category row of the suggestions list.
    Q_INVOKABLE void toggleFindingAt(int category, int finding);
    void setAll(const shoreline::ShorelineCategory& category, bool checked);
    Q_INVOKABLE void setAllAt(int category, bool checked);
    [[nodiscard]] std::vector<shoreline::Finding> checkedFindings() const;
    Q_INVOKABLE void sendCheckedToLowTide();
    quint64 shorelineSafeBytes() const;
    quint64 shorelineTotalBytes() const;

    // Removing the whole Cleanup List, in the background; removalFinished() brings the result.
    // False (and nothing starts) while another removal runs or when the list is empty.
    Q_INVOKABLE bool moveToTrash();
    Q_INVOKABLE bool deleteImmediately();
    Q_INVOKABLE void refreshTrashLedger();
    // Erases for good what this app moved to the Trash (after the user confirmed).
    Q_INVOKABLE void deleteClearedTrashNow();

    // Byte counts as the whole app and the command line show them.
    Q_INVOKABLE QString formatBytes(quint64 bytes) const;

    ItemListModel* items() const { return items_; }
    BreadcrumbModel* breadcrumbModel() const { return breadcrumbs_; }
    CleanupListModel* cleanupList() const { return cleanup_; }
    SuggestionsModel* suggestions() const { return suggestions_; }

signals:
    void sectionChanged();
    void tourStepChanged();
    void trashLedgerChanged();
    void erasingBytesChanged();
    void shorelineChanged();
    void shorelinePhaseChanged();
    void shorelineCheckedChanged();
    void trashBytesChanged();
    void adminScanChanged();
    void historyChanged();
    void startupVolumeChanged();
    void targetChanged();
    void phaseChanged();
    void progressChanged();
    void focusChanged();
    void segmentsChanged();
    void layoutIDChanged();
    void hoveredChanged();
    void volumeChanged();
    void lowTideChanged();
    void noticeChanged();
    void hasFullDiskAccessChanged();
    void revisionChanged();
    void fullnessChanged();
    void storageChanged();
    void removingChanged();
    // What the item list and the breadcrumbs show may have changed; treeReplaced says their
    // node indices now belong to another tree.
    void listingChanged(bool treeReplaced);
    void removalFinished(const brimvale::TrashResult& result);
    // A background step of the Cleanup List settled (staging judged, a folder measured, the
    // ledger refreshed, the eraser idle): what tests and progress indicators wait for.
    void backgroundSettled();

private:
    // Scans, catch-ups and what follows an accepted tree (orchestration).
public:
    // How the tree on screen was obtained, for scripts that measure start-up.
    enum class LoadPath { none, snapshot, incremental, fullScan };
    // The watch loop's periods; tests shorten them.
    struct WatchPeriods {
        std::chrono::milliseconds tick{std::chrono::seconds(300)};
        std::chrono::seconds catchUpAge{21600};
    };
    static constexpr std::chrono::milliseconds progressInterval{100};

    // Called once after launch: resumes interrupted erasing and loads the target.
    void start();
    // Restores the target's snapshot and catches it up in the background; without a usable one,
    // a full scan when not quiet, else nothing.
    void load(const ScanTarget& target, bool quiet);
    // Scans the target from scratch.
    void fullScan(const ScanTarget& target);
    // What the toolbar's target choice, Rescan and Stop do.
    void choose(const ScanTarget& target);
    Q_INVOKABLE void rescan();
    Q_INVOKABLE void stopScan();
    // Scans the startup disk through the privileged helper (the target becomes the startup disk);
    // when the helper is missing, refuses or fails, a notice says so and the regular scan loads.
    Q_INVOKABLE void scanAsAdministrator();
    // The snapshot file of a target: $XDG_DATA_HOME/Brimvale/Snapshots/<root>.qws.
    [[nodiscard]] std::string snapshotURL(const ScanTarget& target) const;
    void refreshFullDiskAccess();
    Q_INVOKABLE void analyzeShoreline();
    void recordHistory();
    void evaluateAlerts(bool historyBased);
    // Starts the watch loop and the unmount watch; once.
    void startTideWatch();
    void startTideWatch(WatchPeriods periods);
    LoadPath lastLoadPath() const { return lastLoadPath_; }
    AppSettings& settings() { return settings_; }

    // Lifecycle.
    void show(AppSection section);
    // Posts one alert unless its kind was posted in the last 24 hours; an alert no server
    // answered is not counted.
    void post(const quenwick::TideAlert& alert);
    // The section a click on a notification opens: "shoreline" the suggestions, else history.
    [[nodiscard]] static AppSection sectionForNotification(const std::string& section);
    Q_INVOKABLE void showTourStep(int index);
    Q_INVOKABLE void endTour();
    // "Skip": marks the tour seen and ends it.
    Q_INVOKABLE void skipTour();
    // The automatic start: step 0 once a tree is ready, unless the tour was seen or runs; true
    // when it started. The main window calls it when it appears and whenever `phase` changes.
    Q_INVOKABLE bool startTourIfDue();
    // The current step's card (TourStep::card), empty while no tour runs.
    Q_INVOKABLE QVariantMap tourCard() const;
    static constexpr int tourSteps = TourStep::count;
    // "Quit & Reopen": a shell starts this program again 0.6 s from now, and the app quits.
    // program: this executable; false when the shell could not be started (the app quits anyway).
    bool relaunch(const QString& program);
    [[nodiscard]] std::vector<quenwick::Growth> growth(int days) const;
    // "Check for Updates…": false (nothing starts) without a version-list URL in the settings,
    // in a build without the updater, or while a check runs. The answer comes as a notice.
    Q_INVOKABLE bool checkForUpdates();
    // The daily check, as the settings say (on unless switched off; never without a URL).
    void startUpdateChecks(std::chrono::milliseconds period = std::chrono::hours(24));
    Q_INVOKABLE void setAutomaticUpdateChecks(bool on);
    bool automaticUpdateChecks() const;

signals:
    // A posted alert was answered by the desktop (or nobody answered): tests wait for it.
    void alertSettled(const QString& kind, bool answered);
    // A load or scan came back: applied, or dropped because the user moved on.
    void scanSettled(bool applied);
    // The mount table changed and the startup volume was read again.
    void mountsChanged();
    // An update check answered (also a failed one).
    void updateChecked();

private:
    using ControlPtr = std::shared_ptr<quenwick::ScanControl>;
    // A tree scanned or caught up in the background, with the volume holding its root.
    struct Finished;
    void finish(Finished finished);
    void installScanned(const ScanTarget& target, std::shared_ptr<quenwick::FileTree> tree,
                        OptionalVolume volume);
    struct AdminResult;
    void askHelperToScan(uint64_t attempt, const std::string& root, uint64_t position);
    void adminScanFailed(const QString& why);
    // Ends a running administrator scan (its result is dropped); false when none runs.
    bool cancelAdminScan();
    ControlPtr beginScan();
    void pollProgress();
    void watchTick();
    void watchMounts();
    // The tree for a reader on another thread: while any such reader lives, a change to the tree
    // on screen goes to a copy, so readers never see a tree change under them.
    std::shared_ptr<const quenwick::FileTree> lendTree() const;
    quenwick::FileTree& writableTree();
    void onNotificationAction(uint32_t id);

    // Benchmarks reach the steps below the asynchronous operations through it.
    friend struct AppModelProbe;

    struct StageRequest;
    struct StageJudgement;
    struct RemovalWork;
    struct ErasedItem;

    template <class T, class Signal>
    bool assign(T& field, T value, Signal changed) {
        if (field == value) return false;
        field = std::move(value);
        emit(this->*changed)();
        return true;
    }

    template <class Work, class Done>
    void runInBackground(QThreadPool& pool, Work work, Done done);

    void setFocusValue(Node node);
    void setLowTide(StagedItems items);
    void setShorelineChecked(PathSet paths);
    void setTrashLedger(LedgerState state);
    void setErasingBytes(quint64 bytes);
    void setRevision(qint64 revision);
    void setRemoving(bool removing);
    void raise(QString text, bool isWarning) {
        setNotice(Notice::make(std::move(text), isWarning));
    }
    QString nodeTitle(Node node) const;
    bool focusIsRemoved() const;

    void stageRequests(std::vector<StageRequest> requests, std::optional<QString> finalNotice);
    void applyJudgements(std::vector<StageJudgement> judgements,
                         std::optional<QString> finalNotice);
    bool coveredByList(const std::string& path, bool includePending) const;
    StageRequest requestFor(const std::string& path) const;
    void raiseAlreadyListed(const QString& name);
    void measureStagedFolder(const QUuid& id, const std::string& path);
    bool startRemoval(bool permanent);
    void finishRemoval(RemovalWork work);
    void removeFromView(const std::vector<StagedItem>& items, TrashResult& result, bool sameTree);
    // Counts items' bytes as erasing until the eraser is idle, then as freed (those of a Trash
    // entry settle it) unless the deletion left remains: done gets the items that were not wholly
    // deleted.
    void finishErasing(std::vector<ErasedItem> items,
                       std::function<void(std::vector<ErasedItem>)> done);
    void refreshVolumesInBackground();
    // Shows an analysis's findings, or analyses again when the tree changed since revision rev.
    void acceptShoreline(qint64 rev, uint64_t trash, Categories categories);
    // Demo mode (demo/AppModelDemo.cpp).
    void showDemoTree(const ScanTarget& target);
    void analyzeDemoShoreline();
    bool removeInDemo(bool permanent);

    AppEnvironment env_;
    std::function<quenwick::DeletionGuard()> guardian_;
    std::shared_ptr<quenwick::Eraser> eraser_;
    quenwick::TrashLedger ledger_;
    std::vector<StorageSummary::Category> storageCategories_;
    std::shared_ptr<const DemoMachine> demo_;
    std::vector<std::string> demoRemovedPaths_;
    uint64_t demoRemovedBytes_ = 0;
    std::optional<uint64_t> demoTrashBytes_;

    AppSection section_ = AppSection::explorer;
    std::optional<int> tourStep_;
    LedgerState trashLedger_;
    quint64 erasingBytes_ = 0;
    Categories shoreline_;
    ShorelinePhase shorelinePhase_ = ShorelinePhase::idle;
    PathSet shorelineChecked_;
    quint64 trashBytes_ = 0;
    bool adminScan_ = false;
    History history_;
    OptionalVolume startupVolume_;
    ScanTarget target_ = ScanTarget::startupDisk();
    Phase phase_ = Phase::idle;
    OptionalProgress progress_;
    Node focus_ = quenwick::FileTree::root;
    Segments segments_;
    qint64 layoutID_ = 0;
    OptionalKind hovered_;
    OptionalVolume volume_;
    StagedItems lowTide_;
    std::optional<Notice> notice_;
    bool hasFullDiskAccess_ = true;
    qint64 revision_ = 0;
    bool removing_ = false;

    std::shared_ptr<quenwick::FileTree> tree_;
    uint64_t treeGeneration_ = 0;
    // The tree the current segments were laid out from, until the next layout.
    std::shared_ptr<const quenwick::FileTree> segmentsTree_;
    Segments previousSegments_;
    std::vector<std::string> previousPaths_;
    std::chrono::system_clock::time_point lastRefresh_{};
    std::function<void()> openMainWindow_;
    std::vector<std::string> pendingStages_;
    // Remains the eraser reported that no finished wait has claimed yet, by the eraser's url.
    std::map<std::string, quenwick::EraseRemains> unclaimedRemains_;

    ItemListModel* items_;
    BreadcrumbModel* breadcrumbs_;
    CleanupListModel* cleanup_;
    SuggestionsModel* suggestions_;

    // Workers: the Trash, the eraser and the ledger file one at a time, in order; the guard's
    // judgements of staged paths one batch at a time, so entries keep the order they were added
    // in; everything else beside them.
    QThreadPool serial_;
    QThreadPool staging_;
    QThreadPool pool_;
    std::atomic<bool> stopping_{false};
    std::mutex measuringMutex_;
    std::vector<std::weak_ptr<quenwick::DiskScanner>> measuring_;

    AppSettings settings_;
    std::string notificationBus_;
    std::unique_ptr<quenwick::DesktopNotifications> notifications_;
    std::map<uint32_t, std::string> notificationSections_;
    std::set<std::string> alertsInFlight_;
    ControlPtr control_;
    std::chrono::steady_clock::time_point scanStarted_{};
    QTimer progressTimer_;
    QTimer watchTimer_;
    WatchPeriods watchPeriods_;
    std::unique_ptr<QSocketNotifier> mountWatch_;
    int mountInfoFd_ = -1;
    LoadPath lastLoadPath_ = LoadPath::none;
    std::shared_ptr<int> readerToken_ = std::make_shared<int>(0);
    std::unique_ptr<AppJournalRecorder> journal_;
    std::unique_ptr<AdminHelper> adminHelper_;
    std::shared_ptr<helperkit::HelperSession> adminSession_;
    uint64_t adminAttempt_ = 0;
    bool adminActive_ = false;
    void ensureUpdater();
    std::shared_ptr<Updater> updater_;  // shared: the type is absent from builds without it
    QUrl updaterFeed_;
    bool updateAsked_ = false;
    std::chrono::milliseconds updatePeriod_{std::chrono::hours(24)};
};

}  // namespace brimvale

namespace brimvale {

// Runs work on a worker of pool and then done(result) on the GUI thread. The destructor waits for
// the pools, so the model outlives every task; a result that arrives after it is gone is dropped
// with the event that carries it.
template <class Work, class Done>
void AppModel::runInBackground(QThreadPool& pool, Work work, Done done) {
    using Result = decltype(work());
    auto job = std::make_shared<std::pair<Work, Done>>(std::move(work), std::move(done));
    pool.start([this, job] {
        auto result = std::make_shared<Result>(job->first());
        QMetaObject::invokeMethod(
            this, [job, result] { job->second(std::move(*result)); }, Qt::QueuedConnection);
    });
}

}  // namespace brimvale
