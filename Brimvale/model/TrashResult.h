#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>

// The outcome of one removal of the Cleanup List as the review sheet shows it: how many items went
// and how much they freed, and one line per item that stayed ("name: why"). Compared field by
// field. A plain value, usable from QML.
namespace brimvale {

class TrashResult {
    Q_GADGET
    Q_PROPERTY(bool permanent MEMBER permanent CONSTANT)
    Q_PROPERTY(int movedCount MEMBER movedCount CONSTANT)
    Q_PROPERTY(quint64 movedBytes MEMBER movedBytes CONSTANT)
    Q_PROPERTY(QStringList failures MEMBER failures CONSTANT)

public:
    bool permanent = false;  // true for a permanent delete, false for a move to the Trash
    int movedCount = 0;
    quint64 movedBytes = 0;
    QStringList failures;

    bool operator==(const TrashResult&) const = default;
};

}  // namespace brimvale
