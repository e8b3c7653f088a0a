#pragma once

#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtCore/QVariantMap>
#include <QtDBus/QDBusArgument>
#include <QtDBus/QDBusMetaType>

// The polkit authority's wire types for CheckAuthorization: the subject (kind, details) and the
// result (authorized, challenge, details). Shared by the helper and the tests' authority.
namespace helperkit::detail {

inline constexpr const char* kPolkitService = "org.freedesktop.PolicyKit1";
inline constexpr const char* kPolkitPath = "/org/freedesktop/PolicyKit1/Authority";
inline constexpr const char* kPolkitInterface = "org.freedesktop.PolicyKit1.Authority";
// CheckAuthorization's flag that lets polkit ask the user for a password.
inline constexpr uint kPolkitAllowUserInteraction = 1;

struct PolkitSubject {
    QString kind;
    QVariantMap details;
};

struct PolkitResult {
    bool isAuthorized = false;
    bool isChallenge = false;
    QMap<QString, QString> details;
};

inline QDBusArgument& operator<<(QDBusArgument& out, const PolkitSubject& subject) {
    out.beginStructure();
    out << subject.kind << subject.details;
    out.endStructure();
    return out;
}

inline const QDBusArgument& operator>>(const QDBusArgument& in, PolkitSubject& subject) {
    in.beginStructure();
    in >> subject.kind >> subject.details;
    in.endStructure();
    return in;
}

inline QDBusArgument& operator<<(QDBusArgument& out, const PolkitResult& result) {
    out.beginStructure();
    out << result.isAuthorized << result.isChallenge << result.details;
    out.endStructure();
    return out;
}

inline const QDBusArgument& operator>>(const QDBusArgument& in, PolkitResult& result) {
    in.beginStructure();
    in >> result.isAuthorized >> result.isChallenge >> result.details;
    in.endStructure();
    return in;
}

}  // namespace helperkit::detail

Q_DECLARE_METATYPE(helperkit::detail::PolkitSubject)
Q_DECLARE_METATYPE(helperkit::detail::PolkitResult)

namespace helperkit::detail {

inline void registerPolkitTypes() {
    qDBusRegisterMetaType<QMap<QString, QString>>();
    qDBusRegisterMetaType<PolkitSubject>();
    qDBusRegisterMetaType<PolkitResult>();
}

}  // namespace helperkit::detail
