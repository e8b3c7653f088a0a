// Test-only stand-ins for what a private bus cannot borrow from the system:
//   bus-stand-in authority DIR  the polkit authority (org.freedesktop.PolicyKit1). The real
//       polkitd needs the real system bus and the installed action and rules folders, which
//       tests must not touch; this one answers CheckAuthorization as DIR/answer says ("yes" or
//       "no", optionally followed by a delay in seconds) and appends each subject it was asked
//       about to DIR/calls as "kind name action flags", and each cancellation to DIR/cancels.
//   bus-stand-in impostor        drops to uid/gid 65534 and tries to own app.brimvale.helper
//       with a helper object that answers Version like the genuine one; prints "owned" and stays,
//       or exits with status 3 when the bus refuses it the name.
// Both connect to the bus named by DBUS_SYSTEM_BUS_ADDRESS.
#include <grp.h>
#include <unistd.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QTimer>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusContext>
#include <QtDBus/QDBusMessage>

#include <cstdio>
#include <cstring>

#include "HelperKit/HelperIdentity.h"
#include "PolkitTypes.h"

namespace {

class Authority : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.PolicyKit1.Authority")

public:
    explicit Authority(QString dir) : dir_(std::move(dir)) {}

public slots:
    // Qualified names: QtDBus finds the marshalling of these types by the names moc records.
    // A slow answer is given later from the event loop, as polkitd does while the user types a
    // password, so other calls (a cancellation among them) are served meanwhile.
    Q_SCRIPTABLE helperkit::detail::PolkitResult CheckAuthorization(
        const helperkit::detail::PolkitSubject& subject, const QString& action,
        const QMap<QString, QString>& details, uint flags, const QString& cancellationId) {
        (void)details;
        // Written out before any delay, so a test can see that the request is pending.
        append("calls", QStringLiteral("%1 %2 %3 %4\n")
                            .arg(subject.kind, subject.details.value("name").toString(), action)
                            .arg(flags));
        QFile answerFile(dir_ + "/answer");
        QString answer = "no";
        if (answerFile.open(QIODevice::ReadOnly)) answer = QString::fromUtf8(answerFile.readAll());
        const QStringList words = answer.simplified().split(' ');
        helperkit::detail::PolkitResult result;
        result.isAuthorized = words.value(0) == "yes";
        if (words.size() < 2) return result;
        setDelayedReply(true);
        const QDBusMessage request = message();
        pending_[cancellationId] = request;
        QTimer::singleShot(
            int(words[1].toDouble() * 1000), this, [this, request, result, cancellationId] {
                const auto it = pending_.find(cancellationId);
                if (it == pending_.end()) return;  // cancelled meanwhile
                pending_.erase(it);
                QDBusConnection::systemBus().send(request.createReply(QVariant::fromValue(result)));
            });
        return {};
    }

    // Appends "cancel ID" to DIR/cancels; a pending check with that id fails as cancelled.
    Q_SCRIPTABLE void CancelCheckAuthorization(const QString& cancellationId) {
        append("cancels", QStringLiteral("cancel %1\n").arg(cancellationId));
        const auto it = pending_.find(cancellationId);
        if (it == pending_.end()) return;
        QDBusConnection::systemBus().send(it->createErrorReply(
            QStringLiteral("org.freedesktop.PolicyKit1.Error.Cancelled"), "Cancelled"));
        pending_.erase(it);
    }

private:
    void append(const QString& name, const QString& line) {
        QFile file(dir_ + "/" + name);
        if (file.open(QIODevice::Append)) file.write(line.toUtf8());
    }

    QString dir_;
    QMap<QString, QDBusMessage> pending_;
};

class Impostor : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.brimvale.helper.QuenwickHelper")

public slots:
    Q_SCRIPTABLE QString Version() {
        return QString::fromStdString(
            helperkit::HelperIdentity::versionString(helperkit::HelperIdentity::installedBuild()));
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string mode = argv[1];
    if (mode == "impostor" && getuid() == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) return 4;
    }
    QCoreApplication app(argc, argv);
    helperkit::detail::registerPolkitTypes();
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return 5;

    if (mode == "authority" && argc == 3) {
        Authority authority(QString::fromLocal8Bit(argv[2]));
        bus.registerObject(helperkit::detail::kPolkitPath, &authority,
                           QDBusConnection::ExportScriptableSlots);
        if (!bus.registerService(helperkit::detail::kPolkitService)) return 3;
        return QCoreApplication::exec();
    }
    if (mode == "impostor") {
        Impostor impostor;
        bus.registerObject("/app/brimvale/helper", &impostor,
                           QDBusConnection::ExportScriptableSlots);
        if (!bus.registerService("app.brimvale.helper")) return 3;
        std::printf("owned\n");
        std::fflush(stdout);
        return QCoreApplication::exec();
    }
    return 2;
}

#include "BusStandIn.moc"
