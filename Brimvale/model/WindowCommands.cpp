#include "model/WindowCommands.h"

#include "model/AppModel.h"

namespace brimvale {

namespace {
constexpr const char* kAdminScan = "scanAsAdministrator()";
}

WindowCommands::WindowCommands(AppModel* model, QObject* parent) : QObject(parent), model_(model) {}

std::vector<std::string> WindowCommands::localPaths(const QList<QUrl>& urls) {
    std::vector<std::string> paths;
    for (const QUrl& url : urls) {
        if (!url.isValid() || !url.isLocalFile() || url.hasQuery() || url.hasFragment()) continue;
        // The encoded path keeps bytes that are not UTF-8 as %XX; decoding gives them back.
        const QByteArray bytes =
            QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        if (bytes.isEmpty() || bytes.front() != '/' || bytes.contains('\0')) continue;
        paths.emplace_back(bytes.constData(), static_cast<size_t>(bytes.size()));
    }
    return paths;
}

bool WindowCommands::adminScanAvailable() const {
    return model_->metaObject()->indexOfMethod(kAdminScan) >= 0;
}

void WindowCommands::chooseStartupDisk() {
    model_->choose(ScanTarget::startupDisk());
}

void WindowCommands::chooseHome() {
    model_->choose(ScanTarget::home());
}

void WindowCommands::chooseFolder(const QUrl& folder) {
    const auto paths = localPaths({folder});
    if (paths.empty()) return;
    std::string path = paths.front();
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    model_->choose(ScanTarget::folder(std::move(path)));
}

void WindowCommands::scanAsAdministrator() {
    if (adminScanAvailable()) QMetaObject::invokeMethod(model_, "scanAsAdministrator");
}

int WindowCommands::stageDrop(const QList<QUrl>& urls) {
    const auto paths = localPaths(urls);
    if (!paths.empty()) model_->stagePaths(paths);
    return static_cast<int>(paths.size());
}

bool WindowCommands::dropHasFiles(const QList<QUrl>& urls) const {
    return !localPaths(urls).empty();
}

}  // namespace brimvale
