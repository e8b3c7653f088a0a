#include "QuenwickCore/DesktopNotifications.h"

#include <QtCore/QAtomicInteger>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QStringList>
#include <QtCore/QThreadPool>
#include <QtCore/QVariantMap>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusError>
#include <QtDBus/QDBusMessage>

#include <map>
#include <mutex>
#include <set>

namespace quenwick {
namespace {

constexpr int kCallTimeoutMs = 3000;
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The errors that mean no notification server answered at all, as opposed to one that did and
// said no.
bool nobodyAnswered(const QString& errorName) {
    static const QStringList names{
        QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"),
        QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"),
        QStringLiteral("org.freedesktop.DBus.Error.NoReply"),
        QStringLiteral("org.freedesktop.DBus.Error.Timeout"),
        QStringLiteral("org.freedesktop.DBus.Error.TimedOut"),
        QStringLiteral("org.freedesktop.DBus.Error.Disconnected"),
        QStringLiteral("org.freedesktop.DBus.Error.NoServer"),
        QStringLiteral("org.freedesktop.DBus.Error.SpawnServiceNotFound"),
        QStringLiteral("org.freedesktop.DBus.Error.SpawnFailed"),
        QStringLiteral("org.freedesktop.DBus.Error.SpawnChildExited"),
    };
    return errorName.isEmpty() || names.contains(errorName);
}

// The thread the posts go out from: one, so they keep their order and a later post with the
// same identifier knows the id of the earlier one.
QThreadPool& postingThread() {
    static QThreadPool pool;
    static const bool configured = [] {
        pool.setMaxThreadCount(1);
        pool.setExpiryTimeout(5000);
        return true;
    }();
    (void)configured;
    return pool;
}

// A child of a caller's context object that carries one answer back to the context's thread.
// Other threads hand it work through deliver(), which is safe while the relay is being
// destroyed: the destructor waits on the same lock, and Qt drops a queued call to a gone object.
class Relay : public QObject {
public:
    struct Gate {
        std::mutex mutex;
        bool alive = true;
    };

    explicit Relay(QObject* context) : QObject(context), gate_(std::make_shared<Gate>()) {}
    ~Relay() override {
        std::lock_guard lock(gate_->mutex);
        gate_->alive = false;
    }

    // Callable from any thread, also after the relay is gone.
    static void deliver(const std::shared_ptr<Gate>& gate, Relay* relay,
                        std::function<void()> work) {
        std::lock_guard lock(gate->mutex);
        if (!gate->alive) return;
        QMetaObject::invokeMethod(relay, [relay, work = std::move(work)] {
            work();
            relay->deleteLater();
        });
    }

    const std::shared_ptr<Gate>& gate() const { return gate_; }

private:
    std::shared_ptr<Gate> gate_;
};

}  // namespace

// Listens to the server's ActionInvoked on a context's thread, for the ids one object showed.
class ActionListener : public QObject {
    Q_OBJECT

public:
    ActionListener(std::shared_ptr<DesktopNotifications::Shared> shared,
                   DesktopNotifications::ActionCallback onAction, QObject* context)
        : QObject(context), shared_(std::move(shared)), onAction_(std::move(onAction)) {}

public slots:
    void invoked(uint id, const QString& action);

private:
    std::shared_ptr<DesktopNotifications::Shared> shared_;
    DesktopNotifications::ActionCallback onAction_;
};

struct DesktopNotifications::Shared {
    std::string busAddress;
    QString connectionName;  // empty: the session bus
    std::mutex mutex;
    std::map<std::string, uint32_t> shownIds;  // by identifier, for replacing
    std::set<uint32_t> ownIds;                 // every id this object was given

    QDBusConnection connection() const {
        return connectionName.isEmpty()
                   ? QDBusConnection::sessionBus()
                   : QDBusConnection::connectToBus(fromUtf8(busAddress), connectionName);
    }

    bool owns(uint32_t id) {
        std::lock_guard lock(mutex);
        return ownIds.count(id) != 0;
    }

    Posted send(const TideNotification& notification) {
        QDBusConnection bus = connection();
        if (!bus.isConnected()) return {};

        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
        uint32_t replaces = 0;
        {
            std::lock_guard lock(mutex);
            const auto shown = shownIds.find(notification.identifier);
            if (shown != shownIds.end()) replaces = shown->second;
        }
        QVariantMap hints;
        hints.insert(QStringLiteral("x-brimvale-section"), fromUtf8(notification.section));
        hints.insert(QStringLiteral("x-brimvale-identifier"), fromUtf8(notification.identifier));
        hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("brimvale"));
        // The default action is what a click on the notification invokes.
        const QStringList actions{QStringLiteral("default"), QStringLiteral("Open")};
        call << QStringLiteral("Brimvale") << replaces << QString() << fromUtf8(notification.title)
             << fromUtf8(notification.body) << actions << hints << qint32(-1);

        const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            return {nobodyAnswered(reply.errorName()) ? TideAlerts::Delivery::unanswered
                                                      : TideAlerts::Delivery::refused,
                    std::nullopt};
        }
        if (reply.type() != QDBusMessage::ReplyMessage) return {};
        bool ok = false;
        const uint32_t id =
            reply.arguments().isEmpty() ? 0 : reply.arguments().constFirst().toUInt(&ok);
        // Something answered, but not with an id: it did not show the notification.
        if (!ok) return {TideAlerts::Delivery::refused, std::nullopt};
        std::lock_guard lock(mutex);
        shownIds[notification.identifier] = id;
        ownIds.insert(id);
        return {TideAlerts::Delivery::shown, id};
    }
};

void ActionListener::invoked(uint id, const QString& action) {
    if (onAction_ && shared_->owns(id)) onAction_(id, action.toStdString());
}

DesktopNotifications::DesktopNotifications(std::string busAddress)
    : shared_(std::make_shared<Shared>()) {
    shared_->busAddress = std::move(busAddress);
    if (!shared_->busAddress.empty()) {
        static QAtomicInteger<int> counter;
        shared_->connectionName =
            QStringLiteral("brimvale-notifications-%1").arg(counter.fetchAndAddRelaxed(1));
    }
}

DesktopNotifications::~DesktopNotifications() {
    // A post under way holds its own copy of the connection; this only lets the name go.
    if (!shared_->connectionName.isEmpty()) {
        QDBusConnection::disconnectFromBus(shared_->connectionName);
    }
}

DesktopNotifications::Posted DesktopNotifications::post(const TideNotification& notification) {
    return shared_->send(notification);
}

void DesktopNotifications::postAsync(const TideNotification& notification, QObject* context,
                                     PostCallback done) {
    auto* relay = new Relay(context);
    postingThread().start([shared = shared_, notification, gate = relay->gate(), relay,
                           done = std::move(done)]() mutable {
        const Posted posted = shared->send(notification);
        Relay::deliver(gate, relay, [done = std::move(done), posted] {
            if (done) done(posted);
        });
    });
}

void DesktopNotifications::watchActions(QObject* context, ActionCallback onAction) {
    QPointer<ActionListener> listener = new ActionListener(shared_, std::move(onAction), context);
    // Connecting to the bus may wait for it; the subscription itself is thread-safe, and Qt
    // drops it when the listener goes.
    auto* relay = new Relay(context);
    postingThread().start([shared = shared_, gate = relay->gate(), relay, listener] {
        QDBusConnection bus = shared->connection();
        Relay::deliver(gate, relay, [bus, listener]() mutable {
            if (!listener || !bus.isConnected()) return;
            bus.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), listener.data(),
                        SLOT(invoked(uint, QString)));
        });
    });
}

}  // namespace quenwick

#include "DesktopNotifications.moc"
