#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>

// TrayWatch: whether the desktop has a system tray right now, by watching the session bus for
// org.kde.StatusNotifierWatcher (Qt caches its own answer for the life of the process, and at
// login the app often starts before the panel). Closing the last window quits the app unless it
// lives on in the tray: shouldQuitOnLastWindowClosed(). GUI thread.
//
// An item can only be shown once the watcher also has a host (the panel's side): hostReady().
// Qt asks that once and keeps the answer, so a tray item must not be created before it holds;
// and a watcher that restarts forgets its items, so readyForItems() fires each time a watcher
// (a new one included) has a host, and items must register again.
namespace brimvale {

class TrayWatch : public QObject {
    Q_OBJECT

public:
    static constexpr const char* watcherName = "org.kde.StatusNotifierWatcher";
    static constexpr const char* watcherPath = "/StatusNotifierWatcher";

    // busAddress: empty for the session bus. Asks the bus once, asynchronously; until it answers
    // (and without a bus) there is no tray.
    explicit TrayWatch(QString busAddress = {}, QObject* parent = nullptr);
    ~TrayWatch() override;

    bool available() const { return available_; }
    bool hostReady() const { return hostReady_; }
    [[nodiscard]] static bool shouldQuitOnLastWindowClosed(bool showMenuBar, bool trayAvailable) {
        return !showMenuBar || !trayAvailable;
    }

signals:
    void availableChanged(bool available);
    // The watcher (this one or a new one) now has a host: register tray items (again).
    void readyForItems();

private:
    void setAvailable(bool available);
    void setOwner(const QString& owner);
    void askForHost();
    void setHostReady(bool ready);
    Q_SLOT void onHostRegistered();

    QString connectionName_;
    QDBusConnection connection_;
    QDBusServiceWatcher watcher_;
    bool available_ = false;
    bool hostReady_ = false;
    QString owner_;
};

}  // namespace brimvale
