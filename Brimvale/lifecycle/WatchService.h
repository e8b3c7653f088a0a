#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// WatchService: the toggle "Keep track of changes while Brimvale is closed", which enables and
// starts (or stops and disables) the brimvale-watch user service through systemd's user manager
// (org.freedesktop.systemd1 on the given session bus). Every call is asynchronous; the state
// arrives a moment later through the signals.
//
// `available` is false until the manager answered that the unit is installed, and stays false
// where no user manager runs or the unit is missing: the toggle is then hidden. `enabled` is the
// unit file's state as the manager reports it, so a change made with systemctl shows too. The
// first time the installed unit is seen disabled, it is switched on once (the toggle is on by
// default); after that only the user's choice changes it. GUI thread only.
namespace brimvale {

class AppSettings;

class WatchService : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool available READ available NOTIFY availableChanged)
    Q_PROPERTY(bool enabled READ enabled NOTIFY enabledChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)

public:
    static constexpr const char* defaultUnit = "brimvale-watch.service";
    // The settings key that says the default was applied once.
    static constexpr const char* defaultAppliedKey = "watchServiceDefaultApplied";

    // settings must outlive this object.
    WatchService(QDBusConnection bus, AppSettings& settings, QString unit = defaultUnit,
                 QObject* parent = nullptr);

    bool available() const { return available_; }
    bool enabled() const { return enabled_; }
    bool busy() const { return busy_; }

    // Asks the manager for the unit file's state again.
    Q_INVOKABLE void refresh();
    // Enable and start, or stop and disable; ignored while unavailable or busy.
    Q_INVOKABLE void setEnabled(bool on);

signals:
    void availableChanged();
    void enabledChanged();
    void busyChanged();
    // A refresh or a switch finished (tests and the settings window wait for it).
    void settled();

private:
    using Next = std::function<void(bool ok)>;
    // Calls the manager's method; next(ok) runs on the GUI thread with the answer.
    void call(const QString& method, const QVariantList& args, Next next);
    void callChain(QStringList methods, bool ok);
    void applyState(const QString& state, bool answered);
    void setAvailable(bool available);
    void setEnabledState(bool enabled);
    void setBusy(bool busy);

    QDBusConnection bus_;
    AppSettings& settings_;
    QString unit_;
    bool available_ = false;
    bool enabled_ = false;
    bool busy_ = false;
};

}  // namespace brimvale
