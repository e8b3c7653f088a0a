#include "lifecycle/Migration.h"

#include <QSettings>

#include <filesystem>

#include "lifecycle/AppSettings.h"

namespace brimvale::Migration {

bool fromQuenwick(const std::string& dataHome, const std::string& configHome) {
    namespace fs = std::filesystem;
    const fs::path oldData = fs::path(dataHome) / "Quenwick";
    const fs::path newData = fs::path(dataHome) / "Brimvale";
    std::error_code ec;
    if (fs::exists(newData, ec) || !fs::is_directory(oldData, ec)) return false;
    fs::copy(oldData, newData, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);

    const std::string oldFile = configHome + "/Quenwick/Quenwick.conf";
    if (!fs::exists(oldFile, ec)) return true;
    QSettings old(QString::fromLocal8Bit(oldFile.data(), qsizetype(oldFile.size())),
                  QSettings::IniFormat);
    AppSettings settings(configHome);
    for (const char* key : {"showMenuBar", "alertLowSpace", "alertFillingFast", "alertBigGrowth"}) {
        const QString name = QString::fromLatin1(key);
        if (old.contains(name)) {
            const QString text = old.value(name).toString();
            if (text == QLatin1String("true") || text == QLatin1String("false"))
                settings.setFlag(name, text == QLatin1String("true"));
        }
    }
    // The earlier name stored raw paths, which QSettings kept as groups: allKeys() joins them.
    for (const QString& key : old.allKeys()) {
        if (!key.startsWith(QLatin1String("itemCount:"))) continue;
        bool ok = false;
        const qlonglong count = old.value(key).toString().toLongLong(&ok);
        if (ok && count > 0) settings.setItemCount(key.mid(10).toStdString(), count);
    }
    (void)settings.sync();
    return true;
}

}  // namespace brimvale::Migration
