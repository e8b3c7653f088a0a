#pragma once

#include <QString>

// The design's symbol names and the freedesktop icon names that stand for them on Linux. Every
// name in the table has a bundled picture (qrc:/qml/icons/<freedesktop name>.svg), so the window
// looks right on a desktop whose icon theme lacks it. Plain functions, any thread.
namespace brimvale::SymbolIcons {

// The freedesktop name for a symbol name; an unknown symbol maps to itself.
[[nodiscard]] QString freedesktopName(const QString& symbol);
// The bundled picture of a freedesktop name, or empty when none is bundled.
[[nodiscard]] QString bundledFile(const QString& freedesktopName);
// Every symbol the table knows (tests check that each has its picture).
[[nodiscard]] QStringList symbols();

}  // namespace brimvale::SymbolIcons
