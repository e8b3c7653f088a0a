#include "watch/RevealInFileManager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>
#include <QUuid>

#include <functional>

#include "lifecycle/BusConnection.h"

namespace brimvale {

void revealInFileManager(const QString& path, QObject* context, const QString& busAddress,
                         std::function<void(bool)> done) {
    const QString name = "brimvale-reveal-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QDBusConnection bus =
        busAddress.isEmpty() ? QDBusConnection::sessionBus() : connectSessionBus(busAddress, name);
    auto fallback = [path] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
    };
    if (!bus.isConnected()) {
        fallback();
        if (done) done(false);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                       "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, fallback, done, name, own = !busAddress.isEmpty()] {
                         const bool ok = !watcher->isError();
                         if (!ok) fallback();
                         watcher->deleteLater();
                         if (own) QDBusConnection::disconnectFromBus(name);
                         if (done) done(ok);
                     });
}

}  // namespace brimvale
