#pragma once

#include <QObject>
#include <QString>
#include <QUuid>

// A transient message for the main window's toast. Every notice gets a fresh id, so two notices
// with the same text are still two notices (both are shown in turn). Compared field by field.
// A plain value, usable from QML.
namespace brimvale {

class Notice {
    Q_GADGET
    Q_PROPERTY(QUuid id MEMBER id CONSTANT)
    Q_PROPERTY(QString text MEMBER text CONSTANT)
    Q_PROPERTY(bool isWarning MEMBER isWarning CONSTANT)

public:
    QUuid id;
    QString text;
    bool isWarning = false;

    // A notice with a fresh random id.
    [[nodiscard]] static Notice make(QString text, bool isWarning) {
        return Notice{QUuid::createUuid(), std::move(text), isWarning};
    }

    bool operator==(const Notice&) const = default;
};

// A name between the curly quotes every message of the app uses: “name”.
[[nodiscard]] inline QString quotedName(const QString& name) {
    return QStringLiteral("\u201C") + name + QStringLiteral("\u201D");
}

}  // namespace brimvale
