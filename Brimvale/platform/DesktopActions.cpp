#include "platform/DesktopActions.h"

#include <QClipboard>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMimeData>

#include "model/AppModel.h"

namespace brimvale {

DesktopActions::DesktopActions(AppModel* model, QDBusConnection bus, Opener opener, QObject* parent)
    : QObject(parent), model_(model), bus_(std::move(bus)), opener_(std::move(opener)) {
    if (!opener_) opener_ = [](const QUrl& url) { QDesktopServices::openUrl(url); };
}

QUrl DesktopActions::fileUrl(const std::string& path) {
    const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
    // QUrl::toPercentEncoding takes text and would replace bytes that are not UTF-8.
    return QUrl::fromEncoded("file://" + bytes.toPercentEncoding("/"));
}

std::string DesktopActions::parentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return path.substr(0, slash);
}

void DesktopActions::open(const std::string& path) {
    opener_(fileUrl(path));
}

void DesktopActions::reveal(const std::string& path) {
    askFileManager("ShowItems", {QString::fromLatin1(fileUrl(path).toEncoded())},
                   fileUrl(parentOf(path)));
}

void DesktopActions::copyPath(const std::string& path) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr) return;
    // Text for pasting anywhere; the URL keeps the exact bytes for a file manager.
    auto* data = new QMimeData;
    data->setText(QString::fromStdString(path));
    data->setUrls({fileUrl(path)});
    clipboard->setMimeData(data);
}

void DesktopActions::openTrash() {
    const std::string dataHome = model_ ? model_->environment().dataHome : std::string();
    const QUrl files = dataHome.empty() ? QUrl() : fileUrl(dataHome + "/Trash/files");
    askFileManager("ShowFolders", {"trash:///"}, files);
}

bool DesktopActions::nodePath(quint32 node, std::string& path) const {
    if (!model_ || !model_->tree() || node >= model_->tree()->count()) return false;
    path = model_->tree()->path(node);
    return true;
}

void DesktopActions::openNode(quint32 node) {
    if (std::string p; nodePath(node, p)) open(p);
}

void DesktopActions::revealNode(quint32 node) {
    if (std::string p; nodePath(node, p)) reveal(p);
}

void DesktopActions::revealFinding(int category, int finding) {
    if (!model_ || category < 0 || finding < 0) return;
    const auto& categories = model_->shoreline();
    if (static_cast<size_t>(category) >= categories.size()) return;
    const auto& findings = categories[static_cast<size_t>(category)].findings;
    if (static_cast<size_t>(finding) < findings.size())
        reveal(findings[static_cast<size_t>(finding)].path);
}

void DesktopActions::copyNodePath(quint32 node) {
    if (std::string p; nodePath(node, p)) copyPath(p);
}

void DesktopActions::askFileManager(const QString& method, const QStringList& uris,
                                    const QUrl& fallback) {
    auto openFallback = [this, fallback] {
        if (fallback.isValid()) opener_(fallback);
        emit shown(false);
    };
    if (!bus_.isConnected()) {
        openFallback();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                       "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", method);
    call << uris << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, 3000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, openFallback](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                if (w->isError()) {
                    openFallback();
                } else {
                    emit shown(true);
                }
            });
}

}  // namespace brimvale
