#pragma once

#include <QObject>
#include <QString>

#include <functional>

// Shows a folder selected in the desktop's file manager (org.freedesktop.FileManager1.ShowItems
// on the session bus, or on the bus at busAddress for tests); when no file manager answers, the
// folder's parent is opened instead. Asynchronous: returns at once; `done` (may be empty) gets
// whether the file manager took it, on the GUI thread, with context as its receiver.
namespace brimvale {

void revealInFileManager(const QString& path, QObject* context, const QString& busAddress = {},
                         std::function<void(bool)> done = {});

}  // namespace brimvale
