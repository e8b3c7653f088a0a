#pragma once

#include <QObject>
#include <QString>

#include <string>

// What a scan covers: a chosen folder, the startup disk or the home folder. Compared by case and
// path (a folder whose path ends in "Home" is still not `home`). A plain value, usable from QML.
namespace brimvale {

class ScanTarget {
    Q_GADGET
    Q_PROPERTY(Kind kind READ kind CONSTANT)
    Q_PROPERTY(QString path READ displayPath CONSTANT)

public:
    enum class Kind { folder, startupDisk, home };
    Q_ENUM(Kind)

    ScanTarget() = default;
    static ScanTarget startupDisk() { return ScanTarget(Kind::startupDisk, {}); }
    static ScanTarget home() { return ScanTarget(Kind::home, {}); }
    // path: absolute, exact bytes.
    static ScanTarget folder(std::string path) { return ScanTarget(Kind::folder, std::move(path)); }

    Kind kind() const { return kind_; }
    // The stored path of a folder (exact bytes); empty for the other cases.
    const std::string& path() const { return path_; }
    QString displayPath() const;

    // "/" for the startup disk, homeFolder for home, the stored path for a folder.
    [[nodiscard]] std::string rootPath(const std::string& homeFolder) const;
    // What the toolbar, the breadcrumbs and the centre show: startupDiskName, "Home", or the
    // folder's last path component (for display).
    [[nodiscard]] QString title(const QString& startupDiskName) const;

    bool operator==(const ScanTarget&) const = default;

private:
    ScanTarget(Kind kind, std::string path) : kind_(kind), path_(std::move(path)) {}

    Kind kind_ = Kind::startupDisk;
    std::string path_;
};

}  // namespace brimvale
