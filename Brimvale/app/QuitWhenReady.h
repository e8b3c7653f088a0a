#pragma once

#include <QElapsedTimer>

#include <string>

namespace brimvale {
class AppModel;

// The hidden measuring mode: watches the model until its phase becomes ready, then prints
// {"readyMs": N, "path": "snapshot" | "incremental" | "fullScan", "nodes": N} on standard output
// and quits the application. GUI thread.
class QuitWhenReady {
public:
    QuitWhenReady() = delete;

    // Arms the watch on model; clock was started at launch.
    static void arm(AppModel& model, QElapsedTimer clock);
    // The JSON line (without the newline).
    [[nodiscard]] static std::string report(const AppModel& model, qint64 readyMs);
};

}  // namespace brimvale
