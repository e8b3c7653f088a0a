#include "model/AppEnvironment.h"

#include <QStorageInfo>

#include "QuenwickCore/UserFolders.h"

namespace brimvale {

AppEnvironment AppEnvironment::current() {
    namespace uf = quenwick::userFolders;
    AppEnvironment env;
    env.home = uf::home();
    env.dataHome = uf::dataHome();
    env.cacheHome = uf::cacheHome();
    env.configHome = uf::configHome();
    env.userDirs = uf::userDirs(env.configHome, env.home);
    // Qt reads the label from /dev/disk/by-label, as the desktop's file managers do.
    env.startupDiskName = startupDiskNameFor(QStorageInfo(QStringLiteral("/")).name());
    return env;
}

QString AppEnvironment::startupDiskNameFor(const QString& label) {
    const QString trimmed = label.trimmed();
    return trimmed.isEmpty() ? QStringLiteral("Startup Disk") : trimmed;
}

}  // namespace brimvale
