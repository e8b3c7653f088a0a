#pragma once

#include <functional>

class QObject;

// The Qt event loop the library's D-Bus objects live in. When the process has a
// QCoreApplication, that is a thread of our own; when it has none (the command-line tool, tests),
// a thread that creates one and runs it. Started on first use, stopped at process exit.
namespace helperkit::detail {

// An object living in the event thread, for queued calls and as a parent for callbacks.
QObject* eventContext();

// Runs fn in the event thread and waits for it (directly when already there).
void runInEventThread(const std::function<void()>& fn);

}  // namespace helperkit::detail
