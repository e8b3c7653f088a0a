#include "lifecycle/SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QUuid>

#include "lifecycle/BusConnection.h"

namespace brimvale {

SingleInstance::SingleInstance(QString busAddress, QObject* parent)
    : QObject(parent),
      connectionName_("brimvale-instance-" + QUuid::createUuid().toString(QUuid::WithoutBraces)),
      connection_(connectSessionBus(busAddress, connectionName_)) {}

SingleInstance::~SingleInstance() {
    if (owner_) {
        connection_.unregisterObject(objectPath);
        connection_.unregisterService(serviceName);
    }
    QDBusConnection::disconnectFromBus(connectionName_);
}

SingleInstance::Role SingleInstance::claim() {
    if (!connection_.isConnected() || !connection_.interface()) return Role::only;
    const auto reply = connection_.interface()->registerService(
        serviceName, QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) return Role::only;
    if (reply.value() != QDBusConnectionInterface::ServiceRegistered) return Role::secondary;
    owner_ = true;
    connection_.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots);
    return Role::primary;
}

void SingleInstance::activateOwner(std::function<void(bool)> done) {
    auto message = QDBusMessage::createMethodCall(serviceName, objectPath, serviceName, "Activate");
    auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(message, 3000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, done = std::move(done)] {
        done(!watcher->isError());
        watcher->deleteLater();
    });
}

void SingleInstance::Activate() {
    emit activated();
}

}  // namespace brimvale
