#include "platform/DesktopAppearance.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QPalette>

namespace brimvale {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kAppearance = QStringLiteral("org.freedesktop.appearance");
const QString kGnome = QStringLiteral("org.gnome.desktop.interface");
const QString kKde = QStringLiteral("org.kde.kdeglobals.KDE");

}  // namespace

DesktopAppearance::DesktopAppearance(bool askPortal, QObject* parent) : QObject(parent) {
    dark_ = paletteDark();
    if (!askPortal) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    bus.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
                SLOT(settingChanged(QString, QString, QDBusVariant)));
    read(kAppearance, QStringLiteral("color-scheme"));
    read(kGnome, QStringLiteral("enable-animations"));
    read(kKde, QStringLiteral("AnimationDurationFactor"));
}

QVariant DesktopAppearance::unwrap(const QVariant& value) {
    QVariant v = value;
    for (int i = 0; i < 8; ++i) {
        if (v.canConvert<QDBusVariant>() && v.userType() == qMetaTypeId<QDBusVariant>()) {
            v = qvariant_cast<QDBusVariant>(v).variant();
        } else if (v.userType() == qMetaTypeId<QDBusArgument>()) {
            const auto arg = qvariant_cast<QDBusArgument>(v);
            if (arg.currentType() != QDBusArgument::VariantType) break;
            QDBusVariant inner;
            arg >> inner;
            v = inner.variant();
        } else {
            break;
        }
    }
    return v;
}

std::optional<bool> DesktopAppearance::darkFromScheme(const QVariant& value) {
    const QVariant v = unwrap(value);
    bool ok = false;
    const uint scheme = v.toUInt(&ok);
    if (!ok) return std::nullopt;
    if (scheme == 1) return true;
    if (scheme == 2) return false;
    return std::nullopt;
}

void DesktopAppearance::apply(const QString& group, const QString& key, const QVariant& value) {
    const QVariant v = unwrap(value);
    if (group == kAppearance && key == QLatin1String("color-scheme")) {
        const auto scheme = darkFromScheme(v);
        schemeFromPortal_ = scheme.has_value();
        setDark(scheme.value_or(paletteDark()));
    } else if (group == kGnome && key == QLatin1String("enable-animations")) {
        if (v.userType() != QMetaType::Bool) return;
        gnomeReduced_ = !v.toBool();
        setReducedMotion(gnomeReduced_ || kdeReduced_);
    } else if (group == kKde && key == QLatin1String("AnimationDurationFactor")) {
        bool ok = false;
        const double factor = v.toDouble(&ok);
        if (!ok) return;
        kdeReduced_ = factor == 0;
        setReducedMotion(gnomeReduced_ || kdeReduced_);
    }
}

void DesktopAppearance::settingChanged(const QString& group, const QString& key,
                                       const QDBusVariant& value) {
    apply(group, key, value.variant());
}

void DesktopAppearance::read(const QString& group, const QString& key) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Read"));
    call << group << key;
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, group, key](QDBusPendingCallWatcher* w) {
                const QDBusPendingReply<QDBusVariant> reply = *w;
                if (!reply.isError()) apply(group, key, reply.value().variant());
                w->deleteLater();
            });
}

void DesktopAppearance::setDark(bool dark) {
    if (dark_ == dark) return;
    dark_ = dark;
    emit darkChanged();
}

void DesktopAppearance::setReducedMotion(bool reduced) {
    if (reducedMotion_ == reduced) return;
    reducedMotion_ = reduced;
    emit reducedMotionChanged();
}

bool DesktopAppearance::paletteDark() const {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
    return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
}

}  // namespace brimvale
