#pragma once

#include <QDBusConnection>
#include <QString>

// A named connection of the app's own to the session bus (address empty) or to a private bus at
// address (tests); disconnect it with QDBusConnection::disconnectFromBus(name).
namespace brimvale {

inline QDBusConnection connectSessionBus(const QString& address, const QString& name) {
    if (address.isEmpty()) return QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    return QDBusConnection::connectToBus(address, name);
}

}  // namespace brimvale
