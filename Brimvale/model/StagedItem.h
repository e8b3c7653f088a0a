#pragma once

#include <QObject>
#include <QString>
#include <QUuid>

#include <cstdint>
#include <optional>
#include <string>

#include "QuenwickCore/GuardVerdict.h"
#include "model/ItemIdentity.h"

// One entry of the Cleanup List: what to remove (exact path bytes, and the guard's ticket for
// it), how it is shown, what removing it frees, and which item the path named when it was staged,
// so that a different item under the same name is never removed. Identified by `id`. A plain
// value, usable from QML.
namespace brimvale {

class StagedItem {
    Q_GADGET
    Q_PROPERTY(QUuid id MEMBER id CONSTANT)
    Q_PROPERTY(QString name MEMBER name CONSTANT)
    Q_PROPERTY(QString path READ displayPath CONSTANT)
    Q_PROPERTY(quint64 bytes MEMBER bytes CONSTANT)
    Q_PROPERTY(QString caution READ caution CONSTANT)

public:
    QUuid id;
    std::string path;  // absolute, exact bytes, no trailing "/"
    QString name;      // display name
    quint64 bytes = 0;
    // Always set for a listed item; optional only so that the type has a default value.
    std::optional<quenwick::GuardedRemoval> removal;
    std::optional<ItemIdentity> identity;  // absent when nothing could be read at staging time

    QString displayPath() const;
    // The guard's warning for this item, or empty.
    QString caution() const;

    bool operator==(const StagedItem& other) const {
        return id == other.id && path == other.path && name == other.name && bytes == other.bytes &&
               removal == other.removal;
    }
};

}  // namespace brimvale
