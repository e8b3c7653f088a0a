#include "lifecycle/LoginItem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <iostream>

namespace brimvale::LoginItem {

namespace {
QString qpath(const std::string& path) {
    return QString::fromLocal8Bit(path.data(), qsizetype(path.size()));
}

// Quoted for the Exec key: reserved characters inside double quotes, backslash-escaped.
std::string execQuoted(const std::string& program) {
    std::string out = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::optional<std::string> failed(std::string description) {
    std::cerr << "Brimvale login item: " << description << std::endl;
    return description;
}
}  // namespace

std::string entryPath(const std::string& configHome) {
    return configHome + "/autostart/brimvale.desktop";
}

bool isEnabled(const std::string& configHome) {
    return QFileInfo::exists(qpath(entryPath(configHome)));
}

std::optional<std::string> set(bool enabled, const std::string& configHome,
                               const std::string& program) {
    const QString path = qpath(entryPath(configHome));
    if (!enabled) {
        if (!QFileInfo::exists(path) || QFile::remove(path)) return std::nullopt;
        return failed("cannot remove " + entryPath(configHome));
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return failed("cannot create " + configHome + "/autostart");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return failed(file.errorString().toStdString());
    const std::string entry =
        "[Desktop Entry]\nType=Application\nName=Brimvale\n"
        "Comment=Keeps watch over your disk space\nExec=" +
        execQuoted(program) +
        " --autostart\nIcon=brimvale\nTerminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    file.write(entry.data(), qint64(entry.size()));
    if (!file.commit()) return failed(file.errorString().toStdString());
    return std::nullopt;
}

bool startedAtLogin(bool autostartFlag, const std::string& configHome,
                    std::optional<double> uptimeSeconds) {
    if (autostartFlag) return true;
    QFile file(qpath(entryPath(configHome)));
    if (!file.open(QIODevice::ReadOnly)) return false;
    // An entry that passes the flag said so itself; one that does not falls back on the uptime.
    if (file.readAll().contains("--autostart")) return false;
    return uptimeSeconds && *uptimeSeconds < 600;
}

std::optional<double> uptime() {
    QFile file("/proc/uptime");
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    bool ok = false;
    const double seconds = file.readLine().split(' ').value(0).toDouble(&ok);
    return ok ? std::optional<double>(seconds) : std::nullopt;
}

}  // namespace brimvale::LoginItem
