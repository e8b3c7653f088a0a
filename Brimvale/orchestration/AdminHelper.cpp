#include "orchestration/AdminHelper.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>

#include <atomic>
#include <thread>

#include "HelperKit/HelperIdentity.h"
#include "HelperKit/HelperSession.h"

namespace brimvale {
namespace {

using namespace std::chrono_literals;

// A private connection to the endpoint's bus for one question, closed afterwards. Blocking: for
// worker threads.
class BusQuestion {
public:
    explicit BusQuestion(const helperkit::HelperEndpoint& endpoint)
        : name_(QStringLiteral("brimvale-admin-question-%1").arg(++counter())),
          bus_(endpoint.busAddress.empty()
                   ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, name_)
                   : QDBusConnection::connectToBus(QString::fromStdString(endpoint.busAddress),
                                                   name_)) {}
    ~BusQuestion() { QDBusConnection::disconnectFromBus(name_); }
    BusQuestion(const BusQuestion&) = delete;
    BusQuestion& operator=(const BusQuestion&) = delete;

    bool connected() const { return bus_.isConnected(); }

    // The bus driver's answer to method(args), or nothing when it did not answer.
    QDBusMessage ask(const char* method, const QVariantList& args = {}) {
        auto call = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                   "org.freedesktop.DBus", method);
        call.setArguments(args);
        return bus_.call(call, QDBus::Block, 5000);
    }

private:
    static std::atomic<uint64_t>& counter() {
        static std::atomic<uint64_t> n{0};
        return n;
    }
    QString name_;
    QDBusConnection bus_;
};

}  // namespace

AdminHelper::AdminHelper(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {}

AdminHelper::~AdminHelper() {
    *alive_ = false;
}

std::string AdminHelper::appBuild() {
#ifdef BRIMVALE_VERSION
    return BRIMVALE_VERSION;
#else
    return "0";
#endif
}

std::string AdminHelper::expectedVersion() const {
    return helperkit::HelperIdentity::versionString(options_.build);
}

template <class Work, class Done>
void AdminHelper::offThread(Work work, Done done) {
    QPointer<AdminHelper> self(this);
    auto alive = alive_;
    QThreadPool::globalInstance()->start(
        [self, alive, work = std::move(work), done = std::move(done)]() mutable {
            auto result = work();
            if (!*alive) return;
            QMetaObject::invokeMethod(
                self.data(),
                [self, alive, result = std::move(result), done = std::move(done)]() mutable {
                    if (self && *alive) done(std::move(result));
                },
                Qt::QueuedConnection);
        });
}

void AdminHelper::registration(std::function<void(std::optional<Readiness>)> done) {
    offThread(
        [endpoint = options_.endpoint] {
            BusQuestion bus(endpoint);
            if (!bus.connected()) return false;
            const QDBusReply<QStringList> names = bus.ask("ListActivatableNames");
            return names.isValid() &&
                   names.value().contains(QString::fromStdString(endpoint.serviceName));
        },
        [done = std::move(done)](bool registered) {
            if (registered) return done(std::nullopt);
            done(Readiness::unavailable("the helper isn't installed"));
        });
}

void AdminHelper::askVersion(std::function<void(bool)> done) {
    auto session = std::make_shared<helperkit::HelperSession>(options_.endpoint);
    // The session lives until its answer came; it is let go after the callback has returned.
    auto holder = std::make_shared<std::shared_ptr<helperkit::HelperSession>>(session);
    QPointer<AdminHelper> self(this);
    session->version([self, holder, expected = expectedVersion(),
                      done = std::move(done)](std::variant<std::string, helperkit::HelperError> v) {
        const bool matches =
            std::holds_alternative<std::string>(v) && std::get<std::string>(v) == expected;
        QMetaObject::invokeMethod(
            self.data(),
            [self, holder, matches, done] {
                holder->reset();
                if (self) done(matches);
            },
            Qt::QueuedConnection);
    });
}

void AdminHelper::waitForExit(std::function<void()> done) {
    offThread(
        [endpoint = options_.endpoint, wait = options_.exitWait] {
            BusQuestion bus(endpoint);
            const auto deadline = std::chrono::steady_clock::now() + wait;
            const QVariantList name{QString::fromStdString(endpoint.serviceName)};
            while (bus.connected() && std::chrono::steady_clock::now() < deadline) {
                const QDBusReply<bool> owned = bus.ask("NameHasOwner", name);
                if (!owned.isValid() || !owned.value()) break;
                std::this_thread::sleep_for(100ms);
            }
            return true;
        },
        [done = std::move(done)](bool) { done(); });
}

void AdminHelper::prepare(std::function<void(Readiness)> done) {
    registration([this, done = std::move(done)](std::optional<Readiness> missing) {
        if (missing) return done(*missing);
        askVersion([this, done](bool matches) {
            if (matches) return done(Readiness::ready());
            // An older helper still running (or one that did not answer): once it is gone, the
            // bus starts the installed program for the second handshake.
            waitForExit([this, done] {
                registration([this, done](std::optional<Readiness> missing) {
                    if (missing) return done(*missing);
                    askVersion([done](bool matches) {
                        done(matches ? Readiness::ready()
                                     : Readiness::unavailable("the helper didn't respond"));
                    });
                });
            });
        });
    });
}

}  // namespace brimvale
