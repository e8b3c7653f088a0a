#include "platform/SymbolIcons.h"

#include <QFile>
#include <QStringList>

#include <array>
#include <utility>

namespace brimvale::SymbolIcons {
namespace {

constexpr std::array<std::pair<const char*, const char*>, 41> kTable{{
    {"circle.circle", "media-optical"},
    {"sparkles", "starred"},
    {"chart.line.uptrend.xyaxis", "utilities-system-monitor"},
    {"chevron.left", "go-previous"},
    {"chevron.right", "go-next"},
    {"chevron.up", "go-up"},
    {"chevron.down", "go-down"},
    {"internaldrive", "drive-harddisk"},
    {"folder", "folder"},
    {"doc", "text-x-generic"},
    {"stop.circle", "process-stop"},
    {"arrow.clockwise", "view-refresh"},
    {"tray.full", "user-trash-full"},
    {"trash", "user-trash"},
    {"exclamationmark.triangle.fill", "dialog-warning"},
    {"hand.raised.fill", "dialog-error"},
    {"info.circle", "dialog-information"},
    {"xmark.circle.fill", "window-close"},
    {"checkmark.circle.fill", "emblem-ok"},
    {"checkmark.circle", "emblem-default"},
    {"lock.shield", "security-high"},
    {"ellipsis.circle", "view-more"},
    {"checkmark", "object-select"},
    {"minus", "list-remove"},
    {"checkmark.seal", "emblem-ok"},
    {"house", "user-home"},
    {"magnifyingglass", "edit-find"},
    {"tray.and.arrow.down", "document-send"},
    {"circle.dashed", "content-loading"},
    {"checkmark.square", "object-select"},
    {"menubar.rectangle", "preferences-desktop-display"},
    // The suggestion categories.
    {"arrow.down.circle", "folder-download"},
    {"doc.on.doc", "edit-copy"},
    {"doc.badge.clock", "document-open-recent"},
    {"hammer", "applications-development"},
    {"shippingbox", "edit-clear"},
    {"iphone", "phone"},
    {"folder.badge.gearshape", "emblem-system"},
    {"archivebox", "system-software-install"},
    {"doc.text", "text-x-generic"},
    {"shippingbox.and.arrow.backward", "package-x-generic"},
}};

}  // namespace

QString freedesktopName(const QString& symbol) {
    for (const auto& [from, to] : kTable)
        if (symbol == QLatin1String(from)) return QString::fromLatin1(to);
    return symbol;
}

QString bundledFile(const QString& name) {
    const QString file = QStringLiteral(":/qml/icons/") + name + QStringLiteral(".svg");
    return QFile::exists(file) ? file : QString();
}

QStringList symbols() {
    QStringList all;
    for (const auto& entry : kTable)
        all << QString::fromLatin1(entry.first);
    return all;
}

}  // namespace brimvale::SymbolIcons
