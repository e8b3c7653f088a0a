#include "lifecycle/TrayWatch.h"

#include <xcb/xcb.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QUuid>

#include <cstdlib>

#include "lifecycle/BusConnection.h"

namespace brimvale {

TrayWatch::TrayWatch(QString busAddress, QObject* parent)
    : QObject(parent),
      connectionName_("brimvale-tray-" + QUuid::createUuid().toString(QUuid::WithoutBraces)),
      connection_(connectSessionBus(busAddress, connectionName_)) {
    // Only on X11 itself: other platforms answer the native interface with a null connection.
    auto* x11 = qGuiApp && QGuiApplication::platformName() == "xcb"
                    ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                    : nullptr;
    if (auto* xcb = x11 ? x11->connection() : nullptr) {
        static constexpr char name[] = "_NET_SYSTEM_TRAY_S0";
        auto cookie = xcb_intern_atom(xcb, 0, sizeof name - 1, name);
        if (auto* reply = xcb_intern_atom_reply(xcb, cookie, nullptr)) {
            xcb_ = xcb;
            trayAtom_ = reply->atom;
            std::free(reply);
            connect(&xembedTimer_, &QTimer::timeout, this, &TrayWatch::checkXEmbedTray);
            xembedTimer_.start(2000);
            checkXEmbedTray();
        }
    }
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

void TrayWatch::checkXEmbedTray() {
    if (!xcb_) return;
    auto* xcb = static_cast<xcb_connection_t*>(xcb_);
    bool owned = false;
    if (auto* reply =
            xcb_get_selection_owner_reply(xcb, xcb_get_selection_owner(xcb, trayAtom_), nullptr)) {
        owned = reply->owner != XCB_NONE;
        std::free(reply);
    }
    if (owned == xembed_) return;
    xembed_ = owned;
    update(false);
}

void TrayWatch::setOwner(const QString& owner) {
    if (owner == owner_) return;
    owner_ = owner;
    sniHost_ = false;
    update(false);
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
            setSniHost(true);
    });
}

void TrayWatch::onHostRegistered() {
    if (!owner_.isEmpty()) setSniHost(true);
}

void TrayWatch::setSniHost(bool registered) {
    if (registered == sniHost_) return;
    sniHost_ = registered;
    update(registered);
}

void TrayWatch::update(bool renewed) {
    const bool available = !owner_.isEmpty() || xembed_;
    const bool ready = (!owner_.isEmpty() && sniHost_) || xembed_;
    const bool wasReady = hostReady_;
    hostReady_ = ready;
    if (available != available_) {
        available_ = available;
        emit availableChanged(available);
    }
    if (ready && (!wasReady || renewed)) emit readyForItems();
}

}  // namespace brimvale
