#pragma once

#include <QString>

#include <map>
#include <string>

// The facts about this user and machine the model reads once, when it is made: the home and XDG
// folders, the user folders that user-dirs.dirs names, and the startup disk's name. Reading them
// touches a few small files, so it happens at launch, before any window shows; tests build their
// own from temporary folders. A plain value.
namespace brimvale {

struct AppEnvironment {
    std::string home;       // no trailing "/"
    std::string dataHome;   // $XDG_DATA_HOME
    std::string cacheHome;  // $XDG_CACHE_HOME
    std::string configHome;
    // By user-dirs.dirs key ("DOCUMENTS", "DOWNLOAD", ...), only the keys that file sets.
    std::map<std::string, std::string> userDirs;
    // The startup disk's title: the file-system label of "/", else "Startup Disk".
    QString startupDiskName;

    // From the current environment.
    [[nodiscard]] static AppEnvironment current();

    // The title for a label as read ("" when there is none).
    [[nodiscard]] static QString startupDiskNameFor(const QString& label);
};

}  // namespace brimvale
