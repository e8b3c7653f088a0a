#pragma once

#include <QColor>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "QuenwickCore/FileTree.h"
#include "QuenwickCore/VolumeInfo.h"
#include "model/AppEnvironment.h"

// What the startup disk holds, by kind, as the strip under the item list shows it. Computed on
// demand, never stored. Plain values, usable from QML.
namespace brimvale {

class StorageSlice {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id CONSTANT)
    Q_PROPERTY(QString title MEMBER title CONSTANT)
    Q_PROPERTY(quint64 bytes MEMBER bytes CONSTANT)
    Q_PROPERTY(QColor color MEMBER color CONSTANT)
    Q_PROPERTY(QColor darkColor MEMBER darkColor CONSTANT)

public:
    QString id;
    QString title;
    quint64 bytes = 0;
    QColor color;      // in the light appearance
    QColor darkColor;  // in the dark appearance (differs for "System & Other" only)

    bool operator==(const StorageSlice&) const = default;
};

class StorageSummary {
    Q_GADGET
    Q_PROPERTY(QString name MEMBER name CONSTANT)
    Q_PROPERTY(quint64 total MEMBER total CONSTANT)
    Q_PROPERTY(quint64 available MEMBER available CONSTANT)
    Q_PROPERTY(QList<brimvale::StorageSlice> slices MEMBER slices CONSTANT)
    Q_PROPERTY(quint64 trash MEMBER trash CONSTANT)

public:
    QString name;
    quint64 total = 0;
    quint64 available = 0;
    QList<StorageSlice> slices;
    quint64 trash = 0;

    bool operator==(const StorageSummary&) const = default;

    // One kind of content and where it lives on this machine.
    struct Category {
        QString id;
        QString title;
        QColor color;
        QColor darkColor;
        std::vector<std::string> paths;  // absolute; "System & Other" has none
    };

    // The categories in display order, "other" last, with this machine's paths: the design's
    // places and their Linux counterparts (system and Flatpak apps, the XDG user folders,
    // toolchain homes, the XDG Trash). No path is listed twice; a user folder set to the home
    // folder itself is left out.
    [[nodiscard]] static std::vector<Category> categories(const AppEnvironment& env);

    // The summary for the startup volume's figures. tree is the finished tree on screen, or null
    // (while a scan runs every category but "other" then counts 0). A folder listed inside
    // another listed folder counts for its own slice only.
    [[nodiscard]] static StorageSummary compute(const std::vector<Category>& categories,
                                                const quenwick::VolumeInfo& startupVolume,
                                                const quenwick::FileTree* tree, uint64_t trashBytes,
                                                const QString& name);
};

}  // namespace brimvale
