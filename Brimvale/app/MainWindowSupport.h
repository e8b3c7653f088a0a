#pragma once

class QQmlEngine;

// Makes an engine ready for the main window (qrc:/qml/Main.qml) over a model: the window's QML
// types, the `icons` image provider and the context properties `desktop`, `texts` and
// `commands`, all owned by the engine. The model must outlive the engine. GUI thread.
namespace brimvale {

class AppModel;

void installMainWindow(QQmlEngine& engine, AppModel& model);

}  // namespace brimvale
