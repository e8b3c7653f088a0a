#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <string>

#include "lifecycle/WatchService.h"

class QQmlApplicationEngine;

// SettingsController: what the Settings window binds to. Each toggle reads and writes one setting
// of AppSettings (written through at once), "Open Brimvale at login" the autostart entry, "Keep
// track of changes while Brimvale is closed" the watch service, and the Updates tab the model's
// updater when this build has one (updaterBuilt). open() asks the window to come forward. GUI
// thread.
namespace brimvale {

class AppModel;
class AppSettings;

class SettingsController : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool showMenuBar READ showMenuBar WRITE setShowMenuBar NOTIFY showMenuBarChanged)
    Q_PROPERTY(bool openAtLogin READ openAtLogin WRITE setOpenAtLogin NOTIFY openAtLoginChanged)
    Q_PROPERTY(bool alertLowSpace READ alertLowSpace WRITE setAlertLowSpace NOTIFY alertsChanged)
    Q_PROPERTY(
        bool alertFillingFast READ alertFillingFast WRITE setAlertFillingFast NOTIFY alertsChanged)
    Q_PROPERTY(bool alertBigGrowth READ alertBigGrowth WRITE setAlertBigGrowth NOTIFY alertsChanged)
    Q_PROPERTY(brimvale::WatchService* watchService READ watchService CONSTANT)
    Q_PROPERTY(bool updaterBuilt READ updaterBuilt CONSTANT)
    Q_PROPERTY(bool automaticUpdates READ automaticUpdates WRITE setAutomaticUpdates NOTIFY
                   automaticUpdatesChanged)
    Q_PROPERTY(QString versionText READ versionText CONSTANT)

public:
    struct Options {
        std::string configHome;  // $XDG_CONFIG_HOME: the autostart entry's folder
        QString program;         // what the autostart entry starts
        QString version;         // this build's version
        QString busAddress;      // the session bus for the user manager; empty: the real one
    };

    // model (and its settings) must outlive the controller.
    SettingsController(AppModel& model, Options options, QObject* parent = nullptr);
    ~SettingsController() override;

    // Makes the controller for the app, offers it to every view as `settings`, and loads the
    // (hidden) Settings window into engine. The controller is a child of engine.
    static SettingsController* install(QQmlApplicationEngine& engine, AppModel& model);

    bool showMenuBar() const;
    void setShowMenuBar(bool on);
    bool openAtLogin() const;
    void setOpenAtLogin(bool on);
    bool alertLowSpace() const { return alert("alertLowSpace"); }
    void setAlertLowSpace(bool on) { setAlert("alertLowSpace", on); }
    bool alertFillingFast() const { return alert("alertFillingFast"); }
    void setAlertFillingFast(bool on) { setAlert("alertFillingFast", on); }
    bool alertBigGrowth() const { return alert("alertBigGrowth"); }
    void setAlertBigGrowth(bool on) { setAlert("alertBigGrowth", on); }
    WatchService* watchService() const { return watch_.get(); }
    static bool updaterBuilt();
    bool automaticUpdates() const;
    void setAutomaticUpdates(bool on);
    QString versionText() const { return "Brimvale " + options_.version; }

    // "Check Now": the model's check; its answer comes as the model's notice.
    Q_INVOKABLE void checkNow();
    Q_INVOKABLE void open() { emit openRequested(); }

signals:
    void showMenuBarChanged();
    void openAtLoginChanged();
    void alertsChanged();
    void automaticUpdatesChanged();
    void openRequested();

private:
    bool alert(const char* key) const;
    void setAlert(const char* key, bool on);
    void write(const char* key, bool on);

    AppModel& model_;
    AppSettings& settings_;
    Options options_;
    std::unique_ptr<WatchService> watch_;
    QString busName_;
};

}  // namespace brimvale
