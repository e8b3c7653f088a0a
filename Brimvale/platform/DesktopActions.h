#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <string>

// What the desktop does for the app's items: open one with its default application, show it
// selected in the file manager, open the Trash, put a path on the clipboard.
//
// Paths are exact bytes: a name that is not valid UTF-8 still reaches the file manager as the
// right item, because every URL is built from the bytes (percent-encoded), never from the text
// shown. Showing goes through the file manager's D-Bus interface
// (org.freedesktop.FileManager1), asked asynchronously; when nobody answers, the item's folder
// (or, for the Trash, its files folder) is opened instead. GUI thread.
namespace brimvale {

class AppModel;

class DesktopActions : public QObject {
    Q_OBJECT

public:
    // Opens a URL with the desktop's default application.
    using Opener = std::function<void(const QUrl&)>;

    // model: where node numbers are looked up (may be null: only the path operations work).
    // bus: where the file manager is asked. opener: QDesktopServices unless a test gives one.
    explicit DesktopActions(AppModel* model, QDBusConnection bus = QDBusConnection::sessionBus(),
                            Opener opener = {}, QObject* parent = nullptr);

    // A file URL of exact path bytes.
    [[nodiscard]] static QUrl fileUrl(const std::string& path);
    // The folder holding path ("/" for "/" itself).
    [[nodiscard]] static std::string parentOf(const std::string& path);

    void open(const std::string& path);
    void reveal(const std::string& path);
    void copyPath(const std::string& path);

    // The same for a node of the tree on screen (its exact bytes); nothing for a stale node.
    Q_INVOKABLE void openNode(quint32 node);
    Q_INVOKABLE void revealNode(quint32 node);
    Q_INVOKABLE void copyNodePath(quint32 node);
    // The finding at a row of a category of the suggestions, by its exact bytes.
    Q_INVOKABLE void revealFinding(int category, int finding);
    // The user's Trash in the file manager (trash:///), else its files folder.
    Q_INVOKABLE void openTrash();

signals:
    // After the file manager answered a request to show something (true) or the fallback was
    // opened (false): what tests wait for.
    void shown(bool byFileManager);

private:
    // Asks the file manager; on any error opens fallback instead.
    void askFileManager(const QString& method, const QStringList& uris, const QUrl& fallback);
    bool nodePath(quint32 node, std::string& path) const;

    AppModel* model_;
    QDBusConnection bus_;
    Opener opener_;
};

}  // namespace brimvale
