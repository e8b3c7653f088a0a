#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>

// TrayWatch: whether the desktop has a system tray right now, by watching the session bus for
// org.kde.StatusNotifierWatcher (Qt caches its own answer for the life of the process, and at
// login the app often starts before the panel). Closing the last window quits the app unless it
// lives on in the tray: shouldQuitOnLastWindowClosed(). GUI thread.
namespace brimvale {

class TrayWatch : public QObject {
    Q_OBJECT

public:
    static constexpr const char* watcherName = "org.kde.StatusNotifierWatcher";

    // busAddress: empty for the session bus. Asks the bus once, asynchronously; until it answers
    // (and without a bus) there is no tray.
    explicit TrayWatch(QString busAddress = {}, QObject* parent = nullptr);
    ~TrayWatch() override;

    bool available() const { return available_; }
    [[nodiscard]] static bool shouldQuitOnLastWindowClosed(bool showMenuBar, bool trayAvailable) {
        return !showMenuBar || !trayAvailable;
    }

signals:
    void availableChanged(bool available);

private:
    void setAvailable(bool available);

    QString connectionName_;
    QDBusConnection connection_;
    QDBusServiceWatcher watcher_;
    bool available_ = false;
};

}  // namespace brimvale
