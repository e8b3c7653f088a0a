#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QTimer>

#include <cstdint>

// TrayWatch: whether the desktop has a system tray right now, watched rather than asked once (Qt
// caches its own answer for the life of the process, and at login the app often starts before
// the panel): org.kde.StatusNotifierWatcher appearing and vanishing on the session bus, and on
// X11 the owner of the XEmbed tray selection (_NET_SYSTEM_TRAY_S0, looked at every 2 seconds).
// Closing the last window quits the app unless it lives on in the tray:
// shouldQuitOnLastWindowClosed(). GUI thread.
//
// An item can only be shown once the watcher also has a host (the panel's side), or an XEmbed
// tray exists: hostReady(). Qt asks that once and keeps the answer, so a tray item must not be
// created before it holds; and a watcher that restarts forgets its items, so readyForItems()
// fires each time a tray (a restarted watcher included) becomes ready, and items must register
// again.
namespace brimvale {

class TrayWatch : public QObject {
    Q_OBJECT

public:
    static constexpr const char* watcherName = "org.kde.StatusNotifierWatcher";
    static constexpr const char* watcherPath = "/StatusNotifierWatcher";

    // busAddress: empty for the session bus. Asks the bus once, asynchronously; until it answers
    // (and without a bus or X11 tray) there is no tray.
    explicit TrayWatch(QString busAddress = {}, QObject* parent = nullptr);
    ~TrayWatch() override;

    bool available() const { return available_; }
    bool hostReady() const { return hostReady_; }
    [[nodiscard]] static bool shouldQuitOnLastWindowClosed(bool showMenuBar, bool trayAvailable) {
        return !showMenuBar || !trayAvailable;
    }

    // Looks at the XEmbed tray selection now instead of at the next tick.
    void checkXEmbedTray();

signals:
    void availableChanged(bool available);
    // A tray (a new watcher with a host, or an XEmbed tray) is ready: register items (again).
    void readyForItems();

private:
    void setOwner(const QString& owner);
    void askForHost();
    void setSniHost(bool registered);
    void update(bool renewed);
    Q_SLOT void onHostRegistered();

    QString connectionName_;
    QDBusConnection connection_;
    QDBusServiceWatcher watcher_;
    QString owner_;
    bool sniHost_ = false;
    bool xembed_ = false;
    bool available_ = false;
    bool hostReady_ = false;
    // The X11 connection (xcb_connection_t*) while the app runs on X11, and the selection's atom.
    void* xcb_ = nullptr;
    uint32_t trayAtom_ = 0;
    QTimer xembedTimer_;
};

}  // namespace brimvale
