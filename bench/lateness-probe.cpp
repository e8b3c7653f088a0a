// How late a 10 ms timer on the GUI thread fires while the app model works, phase by phase, on a
// folder it may change (give it a copy): a full scan, a catch-up of 100 changed folders from the
// app's own change journal, the suggestions analysis, and a permanent delete of 1,000 files.
// One JSON line per phase: {"phase": ..., "ms": N, "worstLatenessMs": N}. Goal: at most 50 ms.
//   lateness-probe TREE      (HOME and the XDG folders should point at a scratch folder)
#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <dirent.h>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "model/AppModel.h"

namespace {

using brimvale::AppModel;

// Records the worst delay between when the 10 ms timer was due and when it fired.
class LatenessProbe {
public:
    LatenessProbe() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            worst_ = std::max(worst_, now - due_);
            due_ = now + 10'000'000;
        });
    }
    void start() {
        worst_ = 0;
        clock_.start();
        due_ = 10'000'000;
        timer_.start(10);
    }
    double stop() {
        timer_.stop();
        return double(worst_) / 1e6;
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 due_ = 0;
    qint64 worst_ = 0;
};

bool waitFor(const std::function<bool()>& done, int seconds = 3600) {
    return QTest::qWaitFor(done, seconds * 1000);
}

void report(const char* phase, LatenessProbe& probe, const QElapsedTimer& took, bool ok) {
    const double worst = probe.stop();
    std::printf("{\"phase\": \"%s\", \"ms\": %lld, \"worstLatenessMs\": %.1f, \"ok\": %s}\n", phase,
                static_cast<long long>(took.elapsed()), worst, ok ? "true" : "false");
    std::fflush(stdout);
}

// Up to n entries of the type (DT_DIR or DT_REG) below root, for changing and deleting.
std::vector<std::string> entriesBelow(const std::string& root, size_t n, unsigned char type) {
    std::vector<std::string> found, queue{root};
    while (!queue.empty() && found.size() < n) {
        const std::string dir = queue.back();
        queue.pop_back();
        DIR* d = opendir(dir.c_str());
        if (!d) continue;
        while (const dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            if (e->d_type == DT_DIR) queue.push_back(dir + "/" + name);
            if (e->d_type == type && found.size() < n) found.push_back(dir + "/" + name);
        }
        closedir(d);
    }
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lateness-probe TREE\n");
        return 2;
    }
    QApplication app(argc, argv);
    const std::string tree = argv[1];
    brimvale::AppEnvironment env = brimvale::AppEnvironment::current();
    // The analysis only runs over a tree holding the home folder: the tree plays the home.
    env.home = tree;
    AppModel model(AppModel::Services::forEnvironment(env));
    model.startTideWatch({std::chrono::hours(1), std::chrono::seconds(21600)});
    LatenessProbe probe;
    QSignalSpy settled(&model, &AppModel::scanSettled);
    QElapsedTimer took;

    probe.start();
    took.start();
    model.setTarget(brimvale::ScanTarget::folder(tree));
    model.fullScan(model.target());
    bool ok = waitFor([&] { return settled.count() > 0; });
    report("fullScan", probe, took, ok && model.tree());

    probe.start();
    took.start();
    ok = waitFor([&] { return model.shorelinePhase() != brimvale::ShorelinePhase::analyzing; });
    report("suggestions", probe, took,
           ok && model.shorelinePhase() == brimvale::ShorelinePhase::ready);

    // The first snapshot predates the app's recorder (it starts over a root once its tree is
    // shown): one more load saves a snapshot the journal covers.
    QTest::qWait(3000);
    settled.clear();
    model.load(model.target(), false);
    waitFor([&] { return settled.count() > 0; });
    // Change 100 folders and let the recorder write them out.
    int n = 0;
    for (const auto& dir : entriesBelow(tree, 100, DT_DIR))
        std::ofstream(dir + "/.lateness-" + std::to_string(n++)) << "changed";
    QTest::qWait(1500);
    settled.clear();
    probe.start();
    took.start();
    model.load(model.target(), false);
    ok = waitFor([&] { return settled.count() > 0; });
    report(model.lastLoadPath() == AppModel::LoadPath::incremental ? "catchUp" : "catchUpFellBack",
           probe, took, ok);

    const auto files = entriesBelow(tree, 1000, DT_REG);
    for (const auto& file : files)
        model.stagePath(file);
    // The guard judges staged paths on its own worker.
    waitFor([&] { return model.lowTide().size() >= files.size(); }, 120);
    QSignalSpy removed(&model, &AppModel::removalFinished);
    probe.start();
    took.start();
    const size_t items = model.lowTide().size();
    ok = model.deleteImmediately() && waitFor([&] { return removed.count() > 0; });
    report(items >= 1000 ? "removal1000" : "removalFewer", probe, took, ok);
    return 0;
}
