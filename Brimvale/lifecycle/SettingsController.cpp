#include "lifecycle/SettingsController.h"

#include <QCoreApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QUrl>

#include "QuenwickCore/UserFolders.h"
#include "lifecycle/AppSettings.h"
#include "lifecycle/BusConnection.h"
#include "lifecycle/LoginItem.h"
#include "model/AppModel.h"

namespace brimvale {

SettingsController::SettingsController(AppModel& model, Options options, QObject* parent)
    : QObject(parent), model_(model), settings_(model.settings()), options_(std::move(options)) {
    static int connections = 0;
    busName_ = "brimvale-settings-" + QString::number(++connections);
    watch_ = std::make_unique<WatchService>(connectSessionBus(options_.busAddress, busName_),
                                            settings_, WatchService::defaultUnit);
    watch_->refresh();
}

SettingsController::~SettingsController() {
    watch_.reset();
    QDBusConnection::disconnectFromBus(busName_);
}

SettingsController* SettingsController::install(QQmlApplicationEngine& engine, AppModel& model) {
    Options options;
    options.configHome = quenwick::userFolders::configHome();
    options.program = QCoreApplication::applicationFilePath();
    options.version = QCoreApplication::applicationVersion();
    auto* controller = new SettingsController(model, std::move(options), &engine);
    engine.rootContext()->setContextProperty("settings", controller);
    engine.load(QUrl("qrc:/qml/SettingsWindow.qml"));
    return controller;
}

bool SettingsController::showMenuBar() const {
    return settings_.showMenuBar();
}

void SettingsController::setShowMenuBar(bool on) {
    if (on == showMenuBar()) return;
    write("showMenuBar", on);
    emit showMenuBarChanged();
}

bool SettingsController::openAtLogin() const {
    return LoginItem::isEnabled(options_.configHome);
}

void SettingsController::setOpenAtLogin(bool on) {
    if (on == openAtLogin()) return;
    // A failure is written to standard error by the login item; the toggle shows what is true.
    (void)LoginItem::set(on, options_.configHome, options_.program.toStdString());
    emit openAtLoginChanged();
}

bool SettingsController::alert(const char* key) const {
    return settings_.flag(key, true);
}

void SettingsController::setAlert(const char* key, bool on) {
    if (on == alert(key)) return;
    write(key, on);
    emit alertsChanged();
}

void SettingsController::write(const char* key, bool on) {
    settings_.setFlag(key, on);
    // The alert gate reads the file itself.
    (void)settings_.sync();
}

bool SettingsController::updaterBuilt() {
#ifdef BRIMVALE_HAS_UPDATER
    return true;
#else
    return false;
#endif
}

bool SettingsController::automaticUpdates() const {
    // The user's choice; the model's check also needs a version-list address to run.
    return settings_.automaticUpdateChecks();
}

void SettingsController::setAutomaticUpdates(bool on) {
    if (on == automaticUpdates()) return;
    model_.setAutomaticUpdateChecks(on);
    emit automaticUpdatesChanged();
}

void SettingsController::checkNow() {
    (void)model_.checkForUpdates();
}

}  // namespace brimvale
