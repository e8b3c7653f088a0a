#include "model/AppModel.h"

#include <QCoreApplication>
#include <QPointer>
#include <QQmlEngine>
#include <QThread>
#include <QUrl>

#include <unistd.h>

#include <algorithm>

#include "HelperKit/HelperSession.h"
#include "QuenwickCore/ByteFormat.h"
#include "QuenwickCore/DesktopNotifications.h"
#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/FullDiskAccess.h"
#include "demo/DemoMachine.h"
#include "model/BreadcrumbModel.h"
#include "model/CleanupListModel.h"
#include "model/ItemListModel.h"
#include "model/SuggestionsModel.h"
#include "orchestration/AppJournalRecorder.h"
#include "watch/TideWatchView.h"

namespace brimvale {

using quenwick::FileTree;
using quenwick::VolumeInfo;

AppModel::Services AppModel::Services::current() {
    Services services = forEnvironment(AppEnvironment::current());
    services.eraser = quenwick::Eraser::standard();
    return services;
}

AppModel::Services AppModel::Services::forEnvironment(AppEnvironment env) {
    auto eraser = std::make_shared<quenwick::Eraser>(env.cacheHome + "/Brimvale/Erasing");
    quenwick::TrashLedger ledger(env.dataHome + "/Brimvale/trash-ledger.json");
    return Services{std::move(env),
                    [] { return quenwick::DeletionGuard::live(); },
                    std::move(eraser),
                    std::move(ledger),
                    {},
                    {},
                    nullptr};
}

AppModel::AppModel(Services services, QObject* parent)
    : QObject(parent),
      env_(std::move(services.environment)),
      guardian_(std::move(services.guardian)),
      eraser_(std::move(services.eraser)),
      ledger_(std::move(services.ledger)),
      storageCategories_(StorageSummary::categories(env_)),
      demo_(std::move(services.demo)),
      settings_(env_.configHome),
      notificationBus_(std::move(services.notificationBus)),
      adminHelper_(std::make_unique<AdminHelper>(std::move(services.admin))) {
    serial_.setMaxThreadCount(1);
    staging_.setMaxThreadCount(1);
    pool_.setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
    items_ = new ItemListModel(this);
    breadcrumbs_ = new BreadcrumbModel(this);
    cleanup_ = new CleanupListModel(this);
    suggestions_ = new SuggestionsModel(this);

    for (auto changed :
         {&AppModel::phaseChanged, &AppModel::progressChanged, &AppModel::volumeChanged,
          &AppModel::focusChanged, &AppModel::revisionChanged})
        connect(this, changed, this, &AppModel::fullnessChanged);
    for (auto changed : {&AppModel::startupVolumeChanged, &AppModel::phaseChanged,
                         &AppModel::revisionChanged, &AppModel::trashBytesChanged})
        connect(this, changed, this, &AppModel::storageChanged);

    if (demo_) {
        setStartupVolume(demo_->volume());
        return;
    }
    struct Initial {
        LedgerState ledger;
        OptionalVolume startupVolume;
        bool fullDiskAccess = true;
    };
    runInBackground(
        serial_,
        [ledger = ledger_] {
            return Initial{
                ledger.load(), VolumeInfo::containing("/"),
                quenwick::FullDiskAccess::current() != quenwick::FullDiskAccess::Status::denied};
        },
        [this](Initial initial) {
            setTrashLedger(std::move(initial.ledger));
            setStartupVolume(initial.startupVolume);
            setHasFullDiskAccess(initial.fullDiskAccess);
            emit backgroundSettled();
        });
}

AppModel::~AppModel() {
    stopping_ = true;
    if (control_) control_->cancel();
    mountWatch_.reset();
    if (mountInfoFd_ >= 0) ::close(mountInfoFd_);
    {
        std::lock_guard lock(measuringMutex_);
        for (const auto& weak : measuring_)
            if (auto scanner = weak.lock()) scanner->cancel();
    }
    serial_.waitForDone();
    staging_.waitForDone();
    pool_.waitForDone();
}

namespace {
bool demoRequested = false;
}

void AppModel::useDemoData() {
    demoRequested = true;
}

AppModel& AppModel::shared() {
    static QPointer<AppModel> model;
    if (!model) {
        Services services =
            demoRequested
                ? Services::demoMachine(DemoMachine::make(std::chrono::system_clock::now()))
                : Services::current();
        model = new AppModel(std::move(services), QCoreApplication::instance());
    }
    return *model;
}

void AppModel::registerQmlTypes() {
    qmlRegisterUncreatableMetaObject(brimvale::staticMetaObject, "Brimvale", 1, 0, "Brimvale",
                                     "Brimvale holds enumerations only");
    qmlRegisterUncreatableType<AppModel>("Brimvale", 1, 0, "AppModel", "Use appModel");
    qmlRegisterUncreatableType<ItemListModel>("Brimvale", 1, 0, "ItemListModel", "Read only");
    qmlRegisterUncreatableType<BreadcrumbModel>("Brimvale", 1, 0, "BreadcrumbModel", "Read only");
    qmlRegisterUncreatableType<CleanupListModel>("Brimvale", 1, 0, "CleanupListModel", "Read only");
    qmlRegisterUncreatableType<SuggestionsModel>("Brimvale", 1, 0, "SuggestionsModel", "Read only");
    // The views' colours and measures, one object for every window.
    qmlRegisterSingletonType(QUrl("qrc:/qml/Theme.qml"), "Brimvale", 1, 0, "Theme");
    qRegisterMetaType<Notice>();
    qRegisterMetaType<StagedItem>();
    qRegisterMetaType<TrashResult>();
    qRegisterMetaType<StorageSummary>();
    qRegisterMetaType<StorageSlice>();
    qRegisterMetaType<ScanTarget>();
    TideWatchView::registerQmlTypes();
}

void AppModel::setSection(AppSection section) {
    assign(section_, section, &AppModel::sectionChanged);
}

QVariant AppModel::tourStepValue() const {
    return tourStep_ ? QVariant(*tourStep_) : QVariant();
}

void AppModel::setTourStep(std::optional<int> step) {
    assign(tourStep_, step, &AppModel::tourStepChanged);
}

void AppModel::setTrashLedger(LedgerState state) {
    assign(trashLedger_, std::move(state), &AppModel::trashLedgerChanged);
}

void AppModel::setErasingBytes(quint64 bytes) {
    assign(erasingBytes_, bytes, &AppModel::erasingBytesChanged);
}

void AppModel::setShoreline(Categories categories) {
    assign(shoreline_, std::move(categories), &AppModel::shorelineChanged);
}

void AppModel::setShorelinePhase(ShorelinePhase phase) {
    assign(shorelinePhase_, phase, &AppModel::shorelinePhaseChanged);
}

void AppModel::setShorelineChecked(PathSet paths) {
    assign(shorelineChecked_, std::move(paths), &AppModel::shorelineCheckedChanged);
}

void AppModel::setTrashBytes(quint64 bytes) {
    assign(trashBytes_, bytes, &AppModel::trashBytesChanged);
}

void AppModel::setAdminScan(bool admin) {
    assign(adminScan_, admin, &AppModel::adminScanChanged);
}

void AppModel::setHistory(History history) {
    assign(history_, std::move(history), &AppModel::historyChanged);
}

void AppModel::setStartupVolume(OptionalVolume volume) {
    assign(startupVolume_, volume, &AppModel::startupVolumeChanged);
}

void AppModel::setTarget(ScanTarget target) {
    assign(target_, std::move(target), &AppModel::targetChanged);
}

void AppModel::setPhase(Phase phase) {
    if (assign(phase_, phase, &AppModel::phaseChanged)) emit listingChanged(false);
}

void AppModel::setProgress(OptionalProgress progress) {
    // ScanProgress has no equality of its own; its three figures are all there is.
    const bool same =
        progress_.has_value() == progress.has_value() &&
        (!progress || (progress_->files == progress->files && progress_->bytes == progress->bytes &&
                       progress_->elapsed == progress->elapsed));
    if (same) return;
    progress_ = progress;
    emit progressChanged();
}

void AppModel::setFocusValue(Node node) {
    assign(focus_, node, &AppModel::focusChanged);
}

void AppModel::setHovered(OptionalKind kind) {
    assign(hovered_, kind, &AppModel::hoveredChanged);
}

void AppModel::setVolume(OptionalVolume volume) {
    assign(volume_, volume, &AppModel::volumeChanged);
}

void AppModel::setLowTide(StagedItems items) {
    assign(lowTide_, std::move(items), &AppModel::lowTideChanged);
}

QVariant AppModel::noticeValue() const {
    return notice_ ? QVariant::fromValue(*notice_) : QVariant();
}

void AppModel::setNotice(std::optional<Notice> notice) {
    assign(notice_, std::move(notice), &AppModel::noticeChanged);
}

void AppModel::setHasFullDiskAccess(bool access) {
    assign(hasFullDiskAccess_, access, &AppModel::hasFullDiskAccessChanged);
}

void AppModel::setRevision(qint64 revision) {
    if (assign(revision_, revision, &AppModel::revisionChanged)) emit listingChanged(false);
}

void AppModel::setRemoving(bool removing) {
    assign(removing_, removing, &AppModel::removingChanged);
}

std::shared_ptr<const FileTree> AppModel::lendTree() const {
    if (!tree_) return nullptr;
    struct Lease {
        std::shared_ptr<FileTree> tree;
        std::shared_ptr<int> token;
    };
    auto lease = std::make_shared<Lease>(Lease{tree_, readerToken_});
    return std::shared_ptr<const FileTree>(lease, lease->tree.get());
}

FileTree& AppModel::writableTree() {
    // Copy on write: a lent tree stays exactly as its readers were given it. The copy keeps the
    // node numbers, so the focus, the lists and the segments stay valid.
    if (readerToken_.use_count() > 1) {
        tree_ = tree_->clone();
        readerToken_ = std::make_shared<int>(0);
    }
    return *tree_;
}

void AppModel::installTree(std::shared_ptr<FileTree> tree, OptionalVolume volume) {
    Node focus = FileTree::root;
    if (tree_ && tree && focus_ != FileTree::root && focus_ < tree_->count()) {
        const auto again = tree->nodeAtPath(tree_->path(focus_));
        if (again && tree->isDirectory(*again)) focus = *again;
    }
    tree_ = std::move(tree);
    readerToken_ = std::make_shared<int>(0);
    ++treeGeneration_;
    // A hovered node of the old tree would name another item in the new one.
    setHovered(std::nullopt);
    setVolume(volume);
    setFocusValue(focus);
    // The listing follows once, as a whole new list, below.
    if (tree_) assign(phase_, Phase::ready, &AppModel::phaseChanged);
    revision_ += 1;
    emit revisionChanged();
    relayout();
    emit listingChanged(true);
}

void AppModel::dropTree() {
    if (!tree_) return;
    tree_.reset();
    ++treeGeneration_;
    setHovered(std::nullopt);
    setFocusValue(FileTree::root);
    revision_ += 1;
    emit revisionChanged();
    relayout();
    emit listingChanged(true);
}

QString AppModel::formatBytes(quint64 bytes) const {
    return QString::fromStdString(quenwick::formatBytes(bytes));
}

}  // namespace brimvale
