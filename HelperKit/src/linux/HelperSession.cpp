#include "HelperKit/HelperSession.h"

#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QThreadPool>
#include <QtCore/QTimer>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusContext>
#include <QtDBus/QDBusError>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusPendingCallWatcher>
#include <QtDBus/QDBusPendingReply>

#include <atomic>
#include <limits>
#include <map>
#include <mutex>

#include "HelperKit/BatchTransfer.h"
#include "HelperKit/HelperIdentity.h"

namespace helperkit {
namespace {

// A scan takes as long as the disk takes; only a broken connection ends it early.
constexpr int kNoTimeout = std::numeric_limits<int>::max();
constexpr int kShortCallMs = 25000;

QString qstr(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QDBusMessage busDriverCall(const char* method) {
    return QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                          "org.freedesktop.DBus", method);
}

std::string describe(const QDBusError& error) {
    const QString text = error.message().isEmpty() ? error.name() : error.message();
    return text.isEmpty() ? std::string("unknown error") : text.toStdString();
}

const HelperError& closedError() {
    static const HelperError error = HelperError::connection("the connection was closed");
    return error;
}

// Tells a connecting pool thread whether the session still wants its connection.
struct ConnectTicket {
    std::mutex mutex;
    bool wanted = true;
};

}  // namespace

class SessionReceiver;

struct HelperSession::Core : QObject {
    using Answer = std::variant<QDBusMessage, HelperError>;

    struct Request {
        enum class Kind { version, scan } kind = Kind::version;
        std::string path;
        ProgressCallback progress;
        VersionCallback versionDone;
        ScanCallback scanDone;
        bool cancelled = false;
        bool sentToHelper = false;
        int64_t awaitedTotal = -1;  // set when the scan's reply announced its total
        QTimer* batchDeadline = nullptr;
    };

    HelperEndpoint endpoint;
    QString connectionName;
    std::shared_ptr<ConnectTicket> ticket = std::make_shared<ConnectTicket>();
    enum class Link { connecting, connected, closed } link = Link::connecting;
    std::string connectError;
    std::string unique;
    QString owner;  // the verified helper's unique name; callbacks from anyone else are dropped
    std::unique_ptr<SessionReceiver> receiver;
    BatchAssembler assembler;
    std::map<uint64_t, Request> requests;  // pending, by serial
    std::vector<uint64_t> waiting;         // started before the connection was up
    uint64_t serial = 0;
    uint64_t activeScan = 0;  // the scan whose batches and progress the helper sends now

    explicit Core(HelperEndpoint e);
    ~Core() override;

    void connected(bool ok, const std::string& error, const std::string& uniqueName);
    uint64_t add(Request request);
    void begin(uint64_t id);
    void call(uint64_t id, const QDBusMessage& message, int timeoutMs,
              std::function<void(const QDBusMessage&)> next);
    void resolveOwner(uint64_t id, std::function<void()> next);
    void sendToHelper(uint64_t id);
    QDBusMessage helperCall(const char* method) const;
    void scanAnswered(uint64_t id, const QDBusMessage& reply);
    void batchArrived();
    void joinBatches(uint64_t id);
    void fail(uint64_t id, const HelperError& error);
    void finishVersion(uint64_t id, std::variant<std::string, HelperError> result);
    void finishScan(uint64_t id, std::variant<std::vector<uint8_t>, HelperError> result);
    Request take(uint64_t id);
    void progress(qlonglong files, qlonglong bytes);
    bool fromHelper(const QDBusMessage& message) const {
        return !owner.isEmpty() && message.service() == owner;
    }
};

class SessionReceiver : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.brimvale.helper.QuenwickHelperClient")

public:
    explicit SessionReceiver(HelperSession::Core* core) : core_(core) {}

public slots:
    // Anyone on the bus may call a client's object; only the helper this session verified may
    // feed it.
    Q_SCRIPTABLE void Progress(qlonglong files, qlonglong bytes) {
        if (calledFromDBus() && core_->fromHelper(message())) core_->progress(files, bytes);
    }

    Q_SCRIPTABLE void Receive(const QByteArray& batch, qlonglong offset) {
        if (!calledFromDBus() || !core_->fromHelper(message())) return;
        core_->assembler.receive(offset, std::vector<uint8_t>(batch.begin(), batch.end()));
        core_->batchArrived();
    }

private:
    HelperSession::Core* core_;
};

HelperSession::Core::Core(HelperEndpoint e) : endpoint(std::move(e)) {
    static std::atomic<uint64_t> counter{0};
    connectionName = QStringLiteral("brimvale-helper-session-%1").arg(++counter);
    // Connecting waits for the bus's answer to Hello: done on a pool thread, never on the loop.
    QPointer<Core> self(this);
    auto ticketCopy = ticket;
    const QString name = connectionName;
    const QString address = qstr(endpoint.busAddress);
    QThreadPool::globalInstance()->start([self, ticketCopy, name, address] {
        QDBusConnection bus = address.isEmpty()
                                  ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, name)
                                  : QDBusConnection::connectToBus(address, name);
        const bool ok = bus.isConnected();
        const std::string error = ok ? std::string() : describe(bus.lastError());
        const std::string uniqueName = ok ? bus.baseService().toStdString() : std::string();
        std::lock_guard lock(ticketCopy->mutex);
        if (!ticketCopy->wanted || !ok) {
            QDBusConnection::disconnectFromBus(name);
            if (!ticketCopy->wanted) return;
        }
        // The session's destructor takes the ticket's lock before it goes, so self is alive
        // here; a queued call to an object destroyed later is dropped by Qt.
        QMetaObject::invokeMethod(self.data(), [self, ok, error, uniqueName] {
            if (self) self->connected(ok, error, uniqueName);
        });
    });
}

HelperSession::Core::~Core() {
    {
        std::lock_guard lock(ticket->mutex);
        ticket->wanted = false;
    }
    if (link == Link::connected && activeScan != 0 && !owner.isEmpty()) {
        QDBusConnection(connectionName).send(helperCall("Cancel"));
    }
    if (receiver)
        QDBusConnection(connectionName).unregisterObject(qstr(HelperIdentity::clientObjectPath));
    QDBusConnection::disconnectFromBus(connectionName);
}

void HelperSession::Core::connected(bool ok, const std::string& error,
                                    const std::string& uniqueName) {
    if (link != Link::connecting) return;
    if (!ok) {
        link = Link::closed;
        connectError = error.empty() ? "cannot connect to the bus" : error;
    } else {
        link = Link::connected;
        unique = uniqueName;
        receiver = std::make_unique<SessionReceiver>(this);
        QDBusConnection(connectionName)
            .registerObject(qstr(HelperIdentity::clientObjectPath), receiver.get(),
                            QDBusConnection::ExportScriptableSlots);
    }
    for (const uint64_t id : std::exchange(waiting, {}))
        begin(id);
}

uint64_t HelperSession::Core::add(Request request) {
    const uint64_t id = ++serial;
    requests.emplace(id, std::move(request));
    if (link == Link::connecting) {
        waiting.push_back(id);
    } else {
        // Never answer from inside the call that asked.
        QMetaObject::invokeMethod(
            this, [this, id] { begin(id); }, Qt::QueuedConnection);
    }
    return id;
}

void HelperSession::Core::begin(uint64_t id) {
    if (!requests.count(id)) return;
    if (link != Link::connected) {
        fail(id, connectError.empty() ? closedError() : HelperError::connection(connectError));
        return;
    }
    resolveOwner(id, [this, id] { sendToHelper(id); });
}

void HelperSession::Core::call(uint64_t id, const QDBusMessage& message, int timeoutMs,
                               std::function<void(const QDBusMessage&)> next) {
    QDBusConnection bus(connectionName);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, timeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, id, next = std::move(next)](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                if (!requests.count(id)) return;  // ended meanwhile (closed, cancelled)
                const QDBusMessage reply = done->reply();
                if (reply.type() == QDBusMessage::ErrorMessage) {
                    fail(id, HelperError::connection(describe(QDBusError(reply))));
                    return;
                }
                next(reply);
            });
}

void HelperSession::Core::resolveOwner(uint64_t id, std::function<void()> next) {
    const QString name = qstr(endpoint.serviceName);
    // Starts the helper when nobody owns its name; answers at once when somebody does.
    QDBusMessage start = busDriverCall("StartServiceByName");
    start << name << uint(0);
    call(id, start, kShortCallMs, [this, id, name, next](const QDBusMessage&) {
        QDBusMessage getOwner = busDriverCall("GetNameOwner");
        getOwner << name;
        call(id, getOwner, kShortCallMs, [this, id, next](const QDBusMessage& owned) {
            const auto ownerArgs = owned.arguments();
            if (ownerArgs.size() != 1)
                return fail(id, HelperError::connection("bad reply from the bus"));
            const QString ownerName = ownerArgs.front().toString();
            // Everything goes to this unique name from now on, so the well-known name changing
            // hands cannot redirect the conversation.
            const auto accept = [this, ownerName, next] {
                owner = ownerName;
                next();
            };
            if (!endpoint.requiredOwnerUid) return accept();
            QDBusMessage getUid = busDriverCall("GetConnectionUnixUser");
            getUid << ownerName;
            call(id, getUid, kShortCallMs, [this, id, accept](const QDBusMessage& user) {
                const auto uidArgs = user.arguments();
                bool ok = false;
                const uint uid = uidArgs.size() == 1 ? uidArgs.front().toUInt(&ok) : 0;
                if (!ok) return fail(id, HelperError::connection("bad reply from the bus"));
                if (uid != *endpoint.requiredOwnerUid) {
                    return fail(id, HelperError::connection("the service " + endpoint.serviceName +
                                                            " is run by uid " +
                                                            std::to_string(uid) + ", not by root"));
                }
                accept();
            });
        });
    });
}

QDBusMessage HelperSession::Core::helperCall(const char* method) const {
    QDBusMessage message =
        QDBusMessage::createMethodCall(owner, qstr(HelperIdentity::helperObjectPath),
                                       qstr(HelperIdentity::helperInterface), method);
    message.setAutoStartService(false);
    return message;
}

void HelperSession::Core::sendToHelper(uint64_t id) {
    auto& request = requests.at(id);
    if (request.kind == Request::Kind::version) {
        call(id, helperCall("Version"), kShortCallMs, [this, id](const QDBusMessage& answer) {
            const auto args = answer.arguments();
            if (args.size() != 1) return finishVersion(id, HelperError::connection("bad proxy"));
            finishVersion(id, args.front().toString().toStdString());
        });
        return;
    }
    if (request.cancelled) return finishScan(id, HelperError::helper("Cancelled"));
    if (activeScan == 0) {
        activeScan = id;
        assembler.reset();
    }
    request.sentToHelper = true;
    QDBusMessage message = helperCall("Scan");
    message << QByteArray(request.path.data(), qsizetype(request.path.size()));
    call(id, message, kNoTimeout,
         [this, id](const QDBusMessage& reply) { scanAnswered(id, reply); });
}

void HelperSession::Core::scanAnswered(uint64_t id, const QDBusMessage& reply) {
    const auto args = reply.arguments();
    if (args.size() != 2) return finishScan(id, HelperError::connection("bad proxy"));
    if (const QString message = args[1].toString(); !message.isEmpty()) {
        return finishScan(id, HelperError::helper(message.toStdString()));
    }
    // A refused second scan announces nothing; only the active one owns the batches.
    if (id != activeScan) return finishScan(id, HelperError::incomplete());
    auto& request = requests.at(id);
    request.awaitedTotal = args[0].toLongLong();
    if (assembler.received() >= request.awaitedTotal) return joinBatches(id);
    // The batches are sent before the reply; one deadline for any still on their way.
    request.batchDeadline = new QTimer(this);
    request.batchDeadline->setSingleShot(true);
    connect(request.batchDeadline, &QTimer::timeout, this, [this, id] { joinBatches(id); });
    request.batchDeadline->start(endpoint.batchTimeout);
}

void HelperSession::Core::batchArrived() {
    const auto it = requests.find(activeScan);
    if (it == requests.end() || it->second.awaitedTotal < 0) return;
    if (assembler.received() >= it->second.awaitedTotal) joinBatches(activeScan);
}

void HelperSession::Core::joinBatches(uint64_t id) {
    const auto it = requests.find(id);
    if (it == requests.end()) return;
    finishScan(id, assembler.waitAndJoin(it->second.awaitedTotal, std::chrono::milliseconds(0)));
}

HelperSession::Core::Request HelperSession::Core::take(uint64_t id) {
    auto node = requests.extract(id);
    Request request = std::move(node.mapped());
    if (request.batchDeadline) request.batchDeadline->deleteLater();
    if (id == activeScan) {
        activeScan = 0;
        assembler.reset();
    }
    return request;
}

void HelperSession::Core::fail(uint64_t id, const HelperError& error) {
    const auto it = requests.find(id);
    if (it == requests.end()) return;
    if (it->second.kind == Request::Kind::version) {
        finishVersion(id, error);
    } else {
        finishScan(id, error);
    }
}

void HelperSession::Core::finishVersion(uint64_t id,
                                        std::variant<std::string, HelperError> result) {
    if (!requests.count(id)) return;
    Request request = take(id);
    if (request.versionDone) request.versionDone(std::move(result));
}

void HelperSession::Core::finishScan(uint64_t id,
                                     std::variant<std::vector<uint8_t>, HelperError> result) {
    if (!requests.count(id)) return;
    Request request = take(id);
    if (request.scanDone) request.scanDone(std::move(result));
}

void HelperSession::Core::progress(qlonglong files, qlonglong bytes) {
    const auto it = requests.find(activeScan);
    if (it != requests.end() && it->second.progress) it->second.progress(files, bytes);
}

HelperSession::HelperSession(HelperEndpoint endpoint)
    : core_(std::make_unique<Core>(std::move(endpoint))) {}

HelperSession::~HelperSession() = default;

void HelperSession::version(VersionCallback done) {
    Core::Request request;
    request.versionDone = std::move(done);
    core_->add(std::move(request));
}

void HelperSession::handshake(const std::string& expectedBuild, HandshakeCallback done) {
    version([expected = HelperIdentity::versionString(expectedBuild),
             done = std::move(done)](std::variant<std::string, HelperError> answer) {
        if (!done) return;
        if (auto* error = std::get_if<HelperError>(&answer)) return done(*error);
        const std::string& found = std::get<std::string>(answer);
        if (found == expected) return done(std::nullopt);
        done(HelperError::connection("the helper is version " + found + ", expected " + expected));
    });
}

void HelperSession::scan(const std::string& path, ProgressCallback progress, ScanCallback done) {
    Core::Request request;
    request.kind = Core::Request::Kind::scan;
    request.path = path;
    request.progress = std::move(progress);
    request.scanDone = std::move(done);
    core_->add(std::move(request));
}

void HelperSession::cancel() {
    bool withHelper = false;
    for (auto& [id, request] : core_->requests) {
        if (request.kind != Core::Request::Kind::scan) continue;
        request.cancelled = true;
        withHelper = withHelper || request.sentToHelper;
    }
    if (withHelper && core_->link == Core::Link::connected && !core_->owner.isEmpty()) {
        QDBusConnection(core_->connectionName).send(core_->helperCall("Cancel"));
    }
}

void HelperSession::close() {
    Core& core = *core_;
    if (core.link == Core::Link::connected) {
        QDBusConnection(core.connectionName)
            .unregisterObject(qstr(HelperIdentity::clientObjectPath));
        core.receiver.reset();
        QDBusConnection::disconnectFromBus(core.connectionName);
    }
    {
        std::lock_guard lock(core.ticket->mutex);
        core.ticket->wanted = false;
    }
    core.link = Core::Link::closed;
    core.waiting.clear();
    std::vector<uint64_t> pending;
    for (const auto& entry : core.requests)
        pending.push_back(entry.first);
    for (const uint64_t id : pending)
        core.fail(id, closedError());
}

std::string HelperSession::uniqueName() const {
    return core_->link == Core::Link::connected ? core_->unique : std::string();
}

}  // namespace helperkit

#include "HelperSession.moc"
