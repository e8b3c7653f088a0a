#include "lifecycle/TrayWatch.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
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
            [this](const QString&, const QString&, const QString& owner) {
                setAvailable(!owner.isEmpty());
            });
    auto call = connection_.interface()->asyncCall("NameHasOwner", QString(watcherName));
    auto* pending = new QDBusPendingCallWatcher(call, this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, pending] {
        QDBusPendingReply<bool> reply = *pending;
        if (reply.isValid() && reply.value()) setAvailable(true);
        pending->deleteLater();
    });
}

TrayWatch::~TrayWatch() {
    QDBusConnection::disconnectFromBus(connectionName_);
}

void TrayWatch::setAvailable(bool available) {
    if (available_ == available) return;
    available_ = available;
    emit availableChanged(available);
}

}  // namespace brimvale
