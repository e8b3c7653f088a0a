#include "HelperKit/HelperClient.h"

#include <QtCore/QObject>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusContext>
#include <QtDBus/QDBusError>
#include <QtDBus/QDBusMessage>

#include <atomic>
#include <condition_variable>
#include <limits>
#include <map>
#include <mutex>

#include "HelperKit/BatchTransfer.h"
#include "HelperKit/HelperIdentity.h"
#include "QtRuntime.h"

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

}  // namespace

class ClientReceiver;

struct HelperClient::State : std::enable_shared_from_this<HelperClient::State> {
    using Outcome = std::variant<QDBusMessage, HelperError>;

    HelperEndpoint endpoint;
    QString connectionName;

    std::mutex mutex;
    std::condition_variable changed;
    bool connected = false;
    bool invalidated = false;
    std::string connectError;
    std::string unique;
    QString owner;  // the verified helper's unique name; callbacks from anyone else are dropped
    ProgressCallback onProgress;
    uint64_t serial = 0;
    std::map<uint64_t, std::optional<Outcome>> outcomes;  // of the requests awaiting answers
    ClientReceiver* receiver = nullptr;                   // lives and dies in the event thread

    BatchAssembler assembler;

    void finish(uint64_t requestSerial, Outcome result) {
        {
            std::lock_guard lock(mutex);
            // The first answer wins; a late one is ignored.
            const auto it = outcomes.find(requestSerial);
            if (it == outcomes.end() || it->second.has_value()) return;
            it->second = std::move(result);
        }
        changed.notify_all();
    }

    Outcome request(const QDBusMessage& message, int timeoutMs);
    std::optional<HelperError> resolveOwner();
    QDBusMessage helperCall(const char* method);
};

class ClientReceiver : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.brimvale.helper.QuenwickHelperClient")

public:
    explicit ClientReceiver(HelperClient::State* state) : state_(state) {}

public slots:
    Q_SCRIPTABLE void Progress(qlonglong files, qlonglong bytes) {
        HelperClient::ProgressCallback callback;
        {
            std::lock_guard lock(state_->mutex);
            if (!fromHelper()) return;
            callback = state_->onProgress;
        }
        if (callback) callback(files, bytes);
    }

    Q_SCRIPTABLE void Receive(const QByteArray& batch, qlonglong offset) {
        {
            std::lock_guard lock(state_->mutex);
            if (!fromHelper()) return;
        }
        state_->assembler.receive(offset, std::vector<uint8_t>(batch.begin(), batch.end()));
    }

private:
    // Called under the state's lock. Anyone on the bus may call a client's object; only the
    // helper this client verified may feed it.
    bool fromHelper() const {
        return calledFromDBus() && !state_->owner.isEmpty() && message().service() == state_->owner;
    }

    HelperClient::State* state_;
};

class ReplyCatcher : public QObject {
    Q_OBJECT

public:
    ReplyCatcher(std::shared_ptr<HelperClient::State> state, uint64_t serial, QObject* parent)
        : QObject(parent), state_(std::move(state)), serial_(serial) {}

public slots:
    void onReply(const QDBusMessage& reply) {
        state_->finish(serial_, reply);
        deleteLater();
    }
    void onError(const QDBusError& error, const QDBusMessage&) {
        state_->finish(serial_, HelperError::connection(describe(error)));
        deleteLater();
    }

private:
    std::shared_ptr<HelperClient::State> state_;
    uint64_t serial_;
};

HelperClient::State::Outcome HelperClient::State::request(const QDBusMessage& message,
                                                          int timeoutMs) {
    uint64_t requestSerial = 0;
    {
        std::lock_guard lock(mutex);
        if (!connected || invalidated) {
            return HelperError::connection(connectError.empty() ? "the connection is closed"
                                                                : connectError);
        }
        requestSerial = ++serial;
        outcomes[requestSerial];
    }
    bool sent = false;
    std::string sendError;
    auto self = shared_from_this();
    detail::runInEventThread([&] {
        if (receiver == nullptr) return;
        QDBusConnection bus(connectionName);
        auto* catcher = new ReplyCatcher(self, requestSerial, receiver);
        sent = bus.callWithCallback(message, catcher, SLOT(onReply(QDBusMessage)),
                                    SLOT(onError(QDBusError, QDBusMessage)), timeoutMs);
        if (!sent) {
            sendError = describe(bus.lastError());
            delete catcher;
        }
    });
    std::unique_lock lock(mutex);
    if (!sent) {
        outcomes.erase(requestSerial);
        return HelperError::connection(sendError.empty() ? "the connection is closed" : sendError);
    }
    auto& outcome = outcomes[requestSerial];
    changed.wait(lock, [&] { return outcome.has_value() || invalidated; });
    Outcome result = outcome ? std::move(*outcome)
                             : Outcome(HelperError::connection("the connection was closed"));
    outcomes.erase(requestSerial);
    return result;
}

std::optional<HelperError> HelperClient::State::resolveOwner() {
    const QString name = qstr(endpoint.serviceName);
    // Starts the helper when nobody owns its name; answers at once when somebody does.
    QDBusMessage start = busDriverCall("StartServiceByName");
    start << name << uint(0);
    auto started = request(start, kShortCallMs);
    if (auto* error = std::get_if<HelperError>(&started)) return *error;

    QDBusMessage getOwner = busDriverCall("GetNameOwner");
    getOwner << name;
    auto owned = request(getOwner, kShortCallMs);
    if (auto* error = std::get_if<HelperError>(&owned)) return *error;
    const auto ownerArgs = std::get<QDBusMessage>(owned).arguments();
    if (ownerArgs.size() != 1) return HelperError::connection("bad reply from the bus");
    const QString ownerName = ownerArgs.front().toString();

    if (endpoint.requiredOwnerUid) {
        QDBusMessage getUid = busDriverCall("GetConnectionUnixUser");
        getUid << ownerName;
        auto user = request(getUid, kShortCallMs);
        if (auto* error = std::get_if<HelperError>(&user)) return *error;
        const auto uidArgs = std::get<QDBusMessage>(user).arguments();
        bool ok = false;
        const uint uid = uidArgs.size() == 1 ? uidArgs.front().toUInt(&ok) : 0;
        if (!ok) return HelperError::connection("bad reply from the bus");
        if (uid != *endpoint.requiredOwnerUid) {
            return HelperError::connection("the service " + endpoint.serviceName +
                                           " is run by uid " + std::to_string(uid) +
                                           ", not by root");
        }
    }
    std::lock_guard lock(mutex);
    // Everything goes to this unique name from now on, so the well-known name changing hands
    // cannot redirect the conversation.
    owner = ownerName;
    return std::nullopt;
}

QDBusMessage HelperClient::State::helperCall(const char* method) {
    QString to;
    {
        std::lock_guard lock(mutex);
        to = owner;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(
        to, qstr(HelperIdentity::helperObjectPath), qstr(HelperIdentity::helperInterface), method);
    message.setAutoStartService(false);
    return message;
}

HelperClient::HelperClient(HelperEndpoint endpoint) : state_(std::make_shared<State>()) {
    static std::atomic<uint64_t> counter{0};
    state_->endpoint = std::move(endpoint);
    state_->connectionName = QStringLiteral("brimvale-helper-client-%1").arg(++counter);
    State* state = state_.get();
    detail::runInEventThread([state] {
        QDBusConnection bus =
            state->endpoint.busAddress.empty()
                ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, state->connectionName)
                : QDBusConnection::connectToBus(qstr(state->endpoint.busAddress),
                                                state->connectionName);
        std::lock_guard lock(state->mutex);
        if (!bus.isConnected()) {
            state->connectError = describe(bus.lastError());
            QDBusConnection::disconnectFromBus(state->connectionName);
            return;
        }
        state->receiver = new ClientReceiver(state);
        bus.registerObject(qstr(HelperIdentity::clientObjectPath), state->receiver,
                           QDBusConnection::ExportScriptableSlots);
        state->unique = bus.baseService().toStdString();
        state->connected = true;
    });
}

HelperClient::~HelperClient() {
    invalidate();
}

std::unique_ptr<HelperClient> HelperClient::privileged() {
    return std::make_unique<HelperClient>(HelperEndpoint{});
}

std::variant<std::string, HelperError> HelperClient::version() {
    if (auto error = state_->resolveOwner()) return *error;
    auto answer = state_->request(state_->helperCall("Version"), kShortCallMs);
    if (auto* error = std::get_if<HelperError>(&answer)) return *error;
    const auto args = std::get<QDBusMessage>(answer).arguments();
    if (args.size() != 1) return HelperError::connection("bad proxy");
    return args.front().toString().toStdString();
}

std::optional<HelperError> HelperClient::handshake(const std::string& expectedBuild) {
    auto answer = version();
    if (auto* error = std::get_if<HelperError>(&answer)) return *error;
    const std::string expected = HelperIdentity::versionString(expectedBuild);
    const std::string& found = std::get<std::string>(answer);
    if (found == expected) return std::nullopt;
    return HelperError::connection("the helper is version " + found + ", expected " + expected);
}

std::variant<std::vector<uint8_t>, HelperError> HelperClient::scan(const std::string& path,
                                                                   ProgressCallback progress) {
    if (auto error = state_->resolveOwner()) return *error;
    state_->assembler.reset();
    {
        std::lock_guard lock(state_->mutex);
        state_->onProgress = std::move(progress);
    }
    QDBusMessage call = state_->helperCall("Scan");
    call << QByteArray(path.data(), qsizetype(path.size()));
    auto answer = state_->request(call, kNoTimeout);

    std::variant<std::vector<uint8_t>, HelperError> result = HelperError::incomplete();
    if (auto* error = std::get_if<HelperError>(&answer)) {
        result = *error;
    } else {
        const auto args = std::get<QDBusMessage>(answer).arguments();
        if (args.size() != 2) {
            result = HelperError::connection("bad proxy");
        } else if (const QString message = args[1].toString(); !message.isEmpty()) {
            result = HelperError::helper(message.toStdString());
        } else {
            result =
                state_->assembler.waitAndJoin(args[0].toLongLong(), state_->endpoint.batchTimeout);
        }
    }
    std::lock_guard lock(state_->mutex);
    state_->onProgress = nullptr;
    return result;
}

void HelperClient::cancel() {
    QDBusMessage call = state_->helperCall("Cancel");
    {
        std::lock_guard lock(state_->mutex);
        if (state_->owner.isEmpty() || !state_->connected || state_->invalidated) return;
    }
    QDBusConnection(state_->connectionName).send(call);
}

void HelperClient::invalidate() {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->invalidated) return;
        state_->invalidated = true;
    }
    state_->changed.notify_all();
    State* state = state_.get();
    detail::runInEventThread([state] {
        if (state->receiver == nullptr) return;
        QDBusConnection(state->connectionName)
            .unregisterObject(qstr(HelperIdentity::clientObjectPath));
        delete state->receiver;
        state->receiver = nullptr;
        QDBusConnection::disconnectFromBus(state->connectionName);
    });
}

std::string HelperClient::uniqueName() const {
    std::lock_guard lock(state_->mutex);
    return state_->connected && !state_->invalidated ? state_->unique : std::string();
}

}  // namespace helperkit

#include "HelperClient.moc"
