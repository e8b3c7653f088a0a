#include "lifecycle/TrayWatch.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QUuid>

#include "lifecycle/BusConnection.h"

namespace brimvale {

TrayWatch::TrayWatch(QString busAddress, QObject* parent)
    : QObject(parent),
      connectionName_("brimvale-tray-" + QUuid::createUuid().toString(QUuid::WithoutBraces)),
      connection_(connectSessionBus(busAddress, connectionName_)) {
    if (!connection_.isConnected()) return;
    watcher_.setConnection(connection_);
    watcher_.addWatchedService(watcherName);
    watcher_.setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
    connect(&watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) { setOwner(owner); });
    connection_.connect(watcherName, watcherPath, watcherName, "StatusNotifierHostRegistered", this,
                        SLOT(onHostRegistered()));
    auto call = connection_.interface()->asyncCall("GetNameOwner", QString(watcherName));
    auto* pending = new QDBusPendingCallWatcher(call, this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, pending] {
        QDBusPendingReply<QString> reply = *pending;
        // A change seen meanwhile is newer than this answer.
        if (reply.isValid() && owner_.isEmpty()) setOwner(reply.value());
        pending->deleteLater();
    });
}

TrayWatch::~TrayWatch() {
    QDBusConnection::disconnectFromBus(connectionName_);
}

void TrayWatch::setOwner(const QString& owner) {
    if (owner == owner_) return;
    owner_ = owner;
    setHostReady(false);
    setAvailable(!owner.isEmpty());
    if (!owner.isEmpty()) askForHost();
}

void TrayWatch::askForHost() {
    QDBusMessage get = QDBusMessage::createMethodCall(owner_, watcherPath,
                                                      "org.freedesktop.DBus.Properties", "Get");
    get << QString(watcherName) << QString("IsStatusNotifierHostRegistered");
    auto* pending = new QDBusPendingCallWatcher(connection_.asyncCall(get, 5000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, pending, asked = owner_] {
        QDBusPendingReply<QDBusVariant> reply = *pending;
        pending->deleteLater();
        if (asked == owner_ && reply.isValid() && reply.value().variant().toBool())
            setHostReady(true);
    });
}

void TrayWatch::onHostRegistered() {
    if (!owner_.isEmpty()) setHostReady(true);
}

void TrayWatch::setHostReady(bool ready) {
    if (hostReady_ == ready) return;
    hostReady_ = ready;
    if (ready) emit readyForItems();
}

void TrayWatch::setAvailable(bool available) {
    if (available_ == available) return;
    available_ = available;
    emit availableChanged(available);
}

}  // namespace brimvale
