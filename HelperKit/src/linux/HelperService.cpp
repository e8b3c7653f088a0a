#include "HelperKit/HelperService.h"

#include <sys/stat.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QTimer>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusContext>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusPendingCall>
#include <QtDBus/QDBusPendingCallWatcher>
#include <QtDBus/QDBusPendingReply>
#include <QtDBus/QDBusServiceWatcher>

#include <atomic>
#include <cstdio>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "HelperKit/BatchTransfer.h"
#include "HelperKit/HelperIdentity.h"
#include "PolkitTypes.h"
#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/Snapshot.h"
#include "QuenwickCore/Utf8.h"

namespace helperkit {
namespace {

using Clock = std::chrono::steady_clock;

// Long enough for a person to type a password into the authentication agent.
constexpr int kAuthorizationTimeoutMs = 5 * 60 * 1000;
// A client that takes longer than this to accept one batch is treated as gone.
constexpr int kBatchCallTimeoutMs = 60000;
constexpr size_t kBatchesInFlight = 4;

QString qstr(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// Activity bookkeeping for the idle exit. `last` starts at the first time anything touches it.
class IdleExit {
public:
    void touch() {
        std::lock_guard lock(mutex_);
        last_ = Clock::now();
    }
    void begin() {
        std::lock_guard lock(mutex_);
        ++busy_;
        last_ = Clock::now();
    }
    void end() {
        std::lock_guard lock(mutex_);
        --busy_;
        last_ = Clock::now();
    }
    bool expired(Clock::duration idle) {
        std::lock_guard lock(mutex_);
        const auto now = Clock::now();
        if (!last_) last_ = now;
        return busy_ == 0 && now - *last_ > idle;
    }

private:
    std::mutex mutex_;
    std::optional<Clock::time_point> last_;
    int busy_ = 0;
};

// One caller's scan state: at most one scan per caller at a time.
struct Session {
    std::mutex mutex;
    bool running = false;
    bool cancelled = false;
    std::shared_ptr<quenwick::DiskScanner> scanner;

    void cancel() {
        std::lock_guard lock(mutex);
        cancelled = true;
        if (scanner) scanner->cancel();
    }
    bool isCancelled() {
        std::lock_guard lock(mutex);
        return cancelled;
    }
};

struct Shared {
    QDBusConnection bus{QString()};
    HelperServiceOptions options;
    IdleExit idle;
};

// The polkit question whether the caller may scan, to be sent without waiting for the answer.
QDBusMessage authorizationRequest(const QString& caller, const QString& cancellationId) {
    // The caller's unique name, never its pid: a pid can be reused by another process.
    detail::PolkitSubject subject{QStringLiteral("system-bus-name"),
                                  {{QStringLiteral("name"), caller}}};
    QDBusMessage call = QDBusMessage::createMethodCall(detail::kPolkitService, detail::kPolkitPath,
                                                       detail::kPolkitInterface,
                                                       QStringLiteral("CheckAuthorization"));
    call << QVariant::fromValue(subject) << qstr(HelperIdentity::scanAction)
         << QVariant::fromValue(QMap<QString, QString>()) << detail::kPolkitAllowUserInteraction
         << cancellationId;
    return call;
}

// Empty when polkit's answer allows the scan; otherwise the refusal to reply with.
QString refusalIn(const QDBusMessage& answer) {
    if (answer.type() != QDBusMessage::ReplyMessage) {
        return QStringLiteral("Could not check the authorization: ") + answer.errorMessage();
    }
    const auto args = answer.arguments();
    if (args.size() != 1 || !args.front().canConvert<QDBusArgument>()) {
        return QStringLiteral("Could not check the authorization: bad reply");
    }
    const auto result = qdbus_cast<detail::PolkitResult>(args.front());
    if (!result.isAuthorized) return QStringLiteral("Not authorized to scan as administrator.");
    return {};
}

// Tells polkit to stop asking about a check nobody waits for any more (its password dialog
// closes). Fire and forget: the check's own answer, if any still comes, is ignored.
void cancelAuthorization(QDBusConnection& bus, const QString& cancellationId) {
    QDBusMessage call = QDBusMessage::createMethodCall(detail::kPolkitService, detail::kPolkitPath,
                                                       detail::kPolkitInterface,
                                                       QStringLiteral("CancelCheckAuthorization"));
    call << cancellationId;
    call.setAutoStartService(false);
    bus.send(call);
}

bool isFolder(const std::string& path) {
    struct stat st;
    return !path.empty() && path.front() == '/' && stat(path.c_str(), &st) == 0 &&
           S_ISDIR(st.st_mode);
}

void runScan(const std::shared_ptr<Shared>& shared, const std::shared_ptr<Session>& session,
             const QDBusMessage& request, const std::string& path) {
    const QString caller = request.service();
    // The caller may ask again as soon as it has the reply: the session is free before it is
    // sent, and nothing of this scan touches the session after.
    auto reply = [&](qlonglong count, const QString& text) {
        {
            std::lock_guard lock(session->mutex);
            session->scanner.reset();
            session->running = false;
        }
        shared->bus.send(request.createReply(QVariantList{count, text}));
    };
    auto callbackTo = [&](const char* method) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(caller, qstr(HelperIdentity::clientObjectPath),
                                           qstr(HelperIdentity::clientInterface), method);
        call.setAutoStartService(false);
        return call;
    };

    if (session->isCancelled()) {
        reply(0, QStringLiteral("Cancelled"));
        return;
    }
    if (!isFolder(path)) {
        reply(0, QStringLiteral("Not a folder: ") + qstr(quenwick::utf8::display(path)));
        return;
    }

    auto scanner = std::make_shared<quenwick::DiskScanner>(quenwick::ScanOptions::forVolume(path),
                                                           quenwick::DiskScanner::defaultWorkers(),
                                                           std::chrono::milliseconds(100));
    bool cancelled = false;
    {
        std::lock_guard lock(session->mutex);
        cancelled = session->cancelled;
        if (!cancelled) session->scanner = scanner;
    }
    if (cancelled) {
        reply(0, QStringLiteral("Cancelled"));
        return;
    }
    auto tree = scanner->scan(path, 0, [&](const quenwick::ScanProgress& p) {
        const uint64_t limit = uint64_t(std::numeric_limits<int64_t>::max());
        QDBusMessage call = callbackTo("Progress");
        call << qlonglong(p.files) << qlonglong(std::min(p.bytes, limit));
        shared->bus.send(call);
    });
    if (session->isCancelled()) {
        reply(0, QStringLiteral("Cancelled"));
        return;
    }

    // The change journal is the user's, not root's: the client stores its own position.
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::vector<uint8_t> bytes;
    try {
        bytes = quenwick::Snapshot::encode(*tree, {path, now, 0}, shared->options.encodeThreads);
    } catch (const std::exception& e) {
        reply(0, QStringLiteral("Could not encode the scan: ") + QString::fromUtf8(e.what()));
        return;
    }
    tree.reset();

    // A few batches in flight at once hide the round trips; waiting for their answers keeps the
    // bus's queues short and notices a caller that went away.
    std::deque<QDBusPendingCall> inFlight;
    auto settleOldest = [&] {
        QDBusPendingCall oldest = inFlight.front();
        inFlight.pop_front();
        oldest.waitForFinished();
        if (oldest.isError()) session->cancel();
    };
    for (const BatchRange& range : batchRanges(int64_t(bytes.size()), shared->options.batchSize)) {
        if (session->isCancelled()) break;
        QDBusMessage call = callbackTo("Receive");
        call << QByteArray(reinterpret_cast<const char*>(bytes.data() + range.offset),
                           qsizetype(range.length))
             << qlonglong(range.offset);
        inFlight.push_back(shared->bus.asyncCall(call, kBatchCallTimeoutMs));
        if (inFlight.size() >= kBatchesInFlight) settleOldest();
    }
    while (!inFlight.empty())
        settleOldest();
    if (session->isCancelled()) {
        reply(0, QStringLiteral("Cancelled"));
        return;
    }
    reply(qlonglong(bytes.size()), QString());
}

class HelperObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.brimvale.helper.QuenwickHelper")

public:
    explicit HelperObject(std::shared_ptr<Shared> shared)
        : shared_(std::move(shared)),
          watcher_(QString(), shared_->bus, QDBusServiceWatcher::WatchForUnregistration) {
        connect(&watcher_, &QDBusServiceWatcher::serviceUnregistered, this,
                &HelperObject::callerGone);
    }

    ~HelperObject() override {
        for (auto& [name, session] : sessions_)
            session->cancel();
        for (auto& worker : workers_)
            worker.thread.join();
    }

public slots:
    Q_SCRIPTABLE QString Version() {
        shared_->idle.touch();
        return qstr(HelperIdentity::versionString(shared_->options.build));
    }

    // Only the authorization is asked for here; the scan's thread starts once it is granted.
    // One request per caller is waiting or running at a time, and at most kMaxWaiting callers
    // wait for polkit at once.
    Q_SCRIPTABLE qlonglong Scan(const QByteArray& path, QString& message) {
        const QString caller = QDBusContext::message().service();
        if (waiting_.size() >= kMaxWaiting && waiting_.count(caller) == 0) {
            message = QStringLiteral("Too many requests are waiting for authorization.");
            return 0;
        }
        auto& session = sessions_[caller];
        if (!session) {
            session = std::make_shared<Session>();
            watcher_.addWatchedService(caller);
        }
        {
            std::lock_guard lock(session->mutex);
            if (session->running) {
                message = QStringLiteral("A scan is already running.");
                return 0;
            }
            session->running = true;
            session->cancelled = false;
        }
        setDelayedReply(true);
        shared_->idle.begin();
        reapWorkers();
        const QString cancellationId =
            QStringLiteral("brimvale-helper-%1").arg(++authorizationCount_);
        auto& waiting = waiting_[caller];
        waiting.request = QDBusContext::message();
        waiting.path = path.toStdString();
        waiting.cancellationId = cancellationId;
        waiting.answer = std::make_unique<QDBusPendingCallWatcher>(shared_->bus.asyncCall(
            authorizationRequest(caller, cancellationId), kAuthorizationTimeoutMs));
        connect(waiting.answer.get(), &QDBusPendingCallWatcher::finished, this,
                [this, caller, cancellationId] { authorizationAnswered(caller, cancellationId); });
        return 0;
    }

    Q_SCRIPTABLE void Cancel() {
        const QString caller = QDBusContext::message().service();
        if (stopWaiting(caller, QStringLiteral("Cancelled"))) return;
        const auto it = sessions_.find(caller);
        if (it != sessions_.end()) it->second->cancel();
    }

private slots:
    void callerGone(const QString& name) {
        stopWaiting(name, QString());
        const auto it = sessions_.find(name);
        if (it == sessions_.end()) return;
        it->second->cancel();
        sessions_.erase(it);
        watcher_.removeWatchedService(name);
    }

private:
    static constexpr size_t kMaxWaiting = 16;

    // A Scan request waiting for polkit's answer.
    struct Waiting {
        QDBusMessage request;
        std::string path;
        QString cancellationId;
        std::unique_ptr<QDBusPendingCallWatcher> answer;
    };

    void authorizationAnswered(const QString& caller, const QString& cancellationId) {
        const auto it = waiting_.find(caller);
        if (it == waiting_.end() || it->second.cancellationId != cancellationId) return;
        Waiting waiting = std::move(it->second);
        waiting_.erase(it);
        // Deleted once its signal has been delivered, not from inside it.
        QDBusPendingCallWatcher* answer = waiting.answer.release();
        answer->deleteLater();
        const auto session = sessions_.find(caller);
        const QString refusal = refusalIn(answer->reply());
        if (session == sessions_.end() || !refusal.isEmpty()) {
            if (!refusal.isEmpty())
                shared_->bus.send(waiting.request.createReply(QVariantList{qlonglong(0), refusal}));
            finishSession(session == sessions_.end() ? nullptr : session->second);
            return;
        }
        startScan(session->second, waiting.request, std::move(waiting.path));
    }

    // Ends the caller's wait for polkit (asking polkit to drop the check), replying `reply` when
    // it is not empty. False when the caller was not waiting.
    bool stopWaiting(const QString& caller, const QString& reply) {
        const auto it = waiting_.find(caller);
        if (it == waiting_.end()) return false;
        cancelAuthorization(shared_->bus, it->second.cancellationId);
        if (!reply.isEmpty())
            shared_->bus.send(it->second.request.createReply(QVariantList{qlonglong(0), reply}));
        it->second.answer.release()->deleteLater();
        waiting_.erase(it);
        const auto session = sessions_.find(caller);
        finishSession(session == sessions_.end() ? nullptr : session->second);
        return true;
    }

    void finishSession(const std::shared_ptr<Session>& session) {
        if (session) {
            std::lock_guard lock(session->mutex);
            session->running = false;
        }
        shared_->idle.end();
    }

    void startScan(const std::shared_ptr<Session>& session, const QDBusMessage& request,
                   std::string path) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::thread thread([shared = shared_, session, done, request, bytes = std::move(path)] {
            runScan(shared, session, request, bytes);
            shared->idle.end();
            done->store(true);
        });
        workers_.push_back({std::move(thread), std::move(done)});
    }

    // Joins the scans that have ended, so threads do not pile up in a long-lived helper.
    void reapWorkers() {
        std::erase_if(workers_, [](Worker& worker) {
            if (!worker.done->load()) return false;
            worker.thread.join();
            return true;
        });
    }

    std::shared_ptr<Shared> shared_;
    QDBusServiceWatcher watcher_;
    std::map<QString, std::shared_ptr<Session>> sessions_;
    std::map<QString, Waiting> waiting_;
    uint64_t authorizationCount_ = 0;
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Worker> workers_;
};

}  // namespace

int runHelperService(int argc, char** argv, const HelperServiceOptions& options) {
    QCoreApplication app(argc, argv);
    detail::registerPolkitTypes();

    auto shared = std::make_shared<Shared>();
    shared->options = options;
    if (shared->options.batchSize <= 0) shared->options.batchSize = HelperIdentity::batchSize;
    shared->bus = options.busAddress.empty()
                      ? QDBusConnection::systemBus()
                      : QDBusConnection::connectToBus(qstr(options.busAddress),
                                                      QStringLiteral("brimvale-helper"));
    if (!shared->bus.isConnected()) {
        std::fprintf(stderr, "brimvale-helper: cannot connect to the bus: %s\n",
                     qPrintable(shared->bus.lastError().message()));
        return 1;
    }

    int status = 0;
    {
        HelperObject object(shared);
        shared->bus.registerObject(qstr(HelperIdentity::helperObjectPath), &object,
                                   QDBusConnection::ExportScriptableSlots);
        if (!shared->bus.registerService(qstr(HelperIdentity::machService))) {
            std::fprintf(stderr, "brimvale-helper: cannot own %s: %s\n",
                         HelperIdentity::machService.data(),
                         qPrintable(shared->bus.lastError().message()));
            return 1;
        }

        QTimer tick;
        auto check = [&] {
            if (!shared->bus.isConnected()) {
                QCoreApplication::exit(2);
            } else if (shared->idle.expired(options.idle)) {
                QCoreApplication::exit(0);
            }
        };
        QObject::connect(&tick, &QTimer::timeout, check);
        QTimer::singleShot(options.idle, &app, [&] {
            check();
            tick.start(options.idleTick);
        });
        status = QCoreApplication::exec();
    }
    return status;
}

}  // namespace helperkit

#include "HelperService.moc"
