#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

#include <string>
#include <vector>

// What the main window's controls ask of the model beyond its own operations: choosing what to
// scan, and staging what the file manager dropped on the Cleanup List. GUI thread; the model
// outlives it.
namespace brimvale {

class AppModel;

class WindowCommands : public QObject {
    Q_OBJECT
    // Whether the model offers the administrator scan.
    Q_PROPERTY(bool adminScanAvailable READ adminScanAvailable CONSTANT)

public:
    explicit WindowCommands(AppModel* model, QObject* parent = nullptr);

    // The exact path bytes of local file URLs, in order; anything else (a web link, text) is left
    // out, and so is a URL with a query or fragment (no file manager sends those).
    [[nodiscard]] static std::vector<std::string> localPaths(const QList<QUrl>& urls);

    bool adminScanAvailable() const;

    Q_INVOKABLE void chooseStartupDisk();
    Q_INVOKABLE void chooseHome();
    // A folder picked in the folder dialog; an empty or non-local URL (cancelled) does nothing.
    Q_INVOKABLE void chooseFolder(const QUrl& folder);
    Q_INVOKABLE void scanAsAdministrator();
    // Stages every local file among urls; the number of paths handed to the model (0: the drop
    // held no file, nothing happens).
    Q_INVOKABLE int stageDrop(const QList<QUrl>& urls);
    Q_INVOKABLE bool dropHasFiles(const QList<QUrl>& urls) const;

private:
    AppModel* model_;
};

}  // namespace brimvale
