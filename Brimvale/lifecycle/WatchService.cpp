#include "lifecycle/WatchService.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include "lifecycle/AppSettings.h"

namespace brimvale {

namespace {

constexpr const char* kService = "org.freedesktop.systemd1";
constexpr const char* kPath = "/org/freedesktop/systemd1";
constexpr const char* kInterface = "org.freedesktop.systemd1.Manager";
// Enabling reloads the manager, which can take a while on a busy session.
constexpr int kTimeoutMs = 25000;

// Unit file states in which the unit starts with the session.
bool isEnabledState(const QString& state) {
    return state == "enabled" || state == "enabled-runtime" || state == "linked" ||
           state == "linked-runtime" || state == "alias";
}

}  // namespace

WatchService::WatchService(QDBusConnection bus, AppSettings& settings, QString unit,
                           QObject* parent)
    : QObject(parent), bus_(std::move(bus)), settings_(settings), unit_(std::move(unit)) {}

void WatchService::call(const QString& method, const QVariantList& args, Next next) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    message.setArguments(args);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, kTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, next = std::move(next)] {
        watcher->deleteLater();
        next(!watcher->isError());
    });
}

void WatchService::refresh() {
    if (!bus_.isConnected()) {
        applyState({}, false);
        return;
    }
    QDBusMessage message =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, "GetUnitFileState");
    message.setArguments({unit_});
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, kTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        QDBusPendingReply<QString> reply = *watcher;
        // No manager, or no such unit: nothing to switch.
        applyState(reply.isError() ? QString() : reply.value(), !reply.isError());
    });
}

void WatchService::applyState(const QString& state, bool answered) {
    setAvailable(answered && state != "masked" && !state.isEmpty());
    setEnabledState(available_ && isEnabledState(state));
    if (available_ && !settings_.flag(defaultAppliedKey, false)) {
        settings_.setFlag(defaultAppliedKey, true);
        (void)settings_.sync();
        if (!enabled_ && state == "disabled") {
            setEnabled(true);
            return;
        }
    }
    emit settled();
}

void WatchService::setEnabled(bool on) {
    if (!available_ || busy_) return;
    setBusy(true);
    // Enabling: link the unit, let the manager see it, then start it. Disabling: stop first, so
    // the recorder ends cleanly with a stop record, then unlink.
    callChain(on ? QStringList{"EnableUnitFiles", "Reload", "StartUnit"}
                 : QStringList{"StopUnit", "DisableUnitFiles", "Reload"},
              true);
}

void WatchService::callChain(QStringList methods, bool ok) {
    if (methods.isEmpty() || !ok) {
        setBusy(false);
        refresh();
        return;
    }
    const QString method = methods.takeFirst();
    QVariantList args;
    if (method == "EnableUnitFiles") {
        args = {QStringList{unit_}, false, false};
    } else if (method == "DisableUnitFiles") {
        args = {QStringList{unit_}, false};
    } else if (method == "StartUnit" || method == "StopUnit") {
        args = {unit_, QStringLiteral("replace")};
    }
    // A stop of a unit that is not running fails harmlessly; disabling goes on regardless.
    const bool mustSucceed = method != "StopUnit";
    call(method, args, [this, methods, mustSucceed](bool answered) {
        callChain(methods, answered || !mustSucceed);
    });
}

void WatchService::setAvailable(bool available) {
    if (available_ == available) return;
    available_ = available;
    emit availableChanged();
}

void WatchService::setEnabledState(bool enabled) {
    if (enabled_ == enabled) return;
    enabled_ = enabled;
    emit enabledChanged();
}

void WatchService::setBusy(bool busy) {
    if (busy_ == busy) return;
    busy_ = busy;
    emit busyChanged();
}

}  // namespace brimvale
