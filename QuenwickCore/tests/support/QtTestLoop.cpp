#include "QtTestLoop.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QTimer>

#include <algorithm>

namespace quenwick::testing {

LoopTurns turnLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    LoopTurns turns;
    QElapsedTimer sinceBeat;
    sinceBeat.start();
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        ++turns.beats;
        turns.longestGap =
            std::max(turns.longestGap, std::chrono::milliseconds(sinceBeat.restart()));
    });
    heartbeat.start(10);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return turns;
}

}  // namespace quenwick::testing
