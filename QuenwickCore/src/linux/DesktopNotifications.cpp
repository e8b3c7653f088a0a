#include "QuenwickCore/DesktopNotifications.h"

#include <QtCore/QAtomicInteger>
#include <QtCore/QStringList>
#include <QtCore/QVariantMap>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>

namespace quenwick {
namespace {

constexpr int kCallTimeoutMs = 3000;

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

DesktopNotifications::DesktopNotifications(std::string busAddress)
    : busAddress_(std::move(busAddress)) {
    if (!busAddress_.empty()) {
        static QAtomicInteger<int> counter;
        connectionName_ = "brimvale-notifications-" + std::to_string(counter.fetchAndAddRelaxed(1));
    }
}

DesktopNotifications::~DesktopNotifications() {
    if (!connectionName_.empty()) QDBusConnection::disconnectFromBus(fromUtf8(connectionName_));
}

std::optional<uint32_t> DesktopNotifications::post(const TideNotification& notification) {
    std::lock_guard lock(mutex_);
    QDBusConnection bus =
        connectionName_.empty()
            ? QDBusConnection::sessionBus()
            : QDBusConnection::connectToBus(fromUtf8(busAddress_), fromUtf8(connectionName_));
    if (!bus.isConnected()) return std::nullopt;

    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const auto shown = shownIds_.find(notification.identifier);
    const uint32_t replaces = shown == shownIds_.end() ? 0 : shown->second;
    QVariantMap hints;
    hints.insert(QStringLiteral("x-brimvale-section"), fromUtf8(notification.section));
    hints.insert(QStringLiteral("x-brimvale-identifier"), fromUtf8(notification.identifier));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("brimvale"));
    // The default action is what a click on the notification invokes.
    const QStringList actions{QStringLiteral("default"), QStringLiteral("Open")};
    call << QStringLiteral("Brimvale") << replaces << QString() << fromUtf8(notification.title)
         << fromUtf8(notification.body) << actions << hints << qint32(-1);

    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return std::nullopt;
    }
    bool ok = false;
    const uint32_t id = reply.arguments().constFirst().toUInt(&ok);
    if (!ok) return std::nullopt;
    shownIds_[notification.identifier] = id;
    return id;
}

}  // namespace quenwick
