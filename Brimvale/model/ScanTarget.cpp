#include "model/ScanTarget.h"

#include "QuenwickCore/Utf8.h"

namespace brimvale {

QString ScanTarget::displayPath() const {
    return QString::fromStdString(quenwick::utf8::display(path_));
}

std::string ScanTarget::rootPath(const std::string& homeFolder) const {
    switch (kind_) {
        case Kind::startupDisk:
            return "/";
        case Kind::home:
            return homeFolder;
        case Kind::folder:
            break;
    }
    return path_;
}

QString ScanTarget::title(const QString& startupDiskName) const {
    switch (kind_) {
        case Kind::startupDisk:
            return startupDiskName;
        case Kind::home:
            return QStringLiteral("Home");
        case Kind::folder:
            break;
    }
    const size_t slash = path_.find_last_of('/');
    const std::string last = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    return QString::fromStdString(quenwick::utf8::display(last.empty() ? path_ : last));
}

}  // namespace brimvale
