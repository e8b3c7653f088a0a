#pragma once

#include <functional>

class QObject;

// The Qt event thread of the blocking HelperClient: a QThread of the library's own, next to the
// application object the process made itself (the command-line tool, the tests and the app each
// make theirs). The library never makes an application object: one made on a thread of ours
// would fight the app's. Started on first use, stopped when the application object goes.
namespace helperkit::detail {

// An object living in the event thread, for queued calls; nullptr when the process has no
// QCoreApplication.
QObject* eventContext();

// Runs fn in the event thread and waits for it (directly when already there). False, without
// running fn, when the process has no QCoreApplication.
[[nodiscard]] bool runInEventThread(const std::function<void()>& fn);

}  // namespace helperkit::detail
