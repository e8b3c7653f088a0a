// The main window on the 1,000,000-file benchmark tree (bench/make-bench-tree.sh), drawn by
// whatever OpenGL the display offers (Mesa's llvmpipe under Xvfb here), with reduced motion so
// that the first frame after a change already shows its end state:
//   - ClickFolderToFrame: a click on the chevron of the list's biggest folder, until the first
//     frame that shows its ring and its list (goal: at most 50 ms);
//   - HoverRowToFrame: the pointer moving onto another row, until the first frame with that
//     row's arc highlighted (goal: at most one frame at 60 Hz, 16.7 ms).
// Each iteration is one such change; times are manual (event to frame), in milliseconds.
//   BRIMVALE_BENCH_TREE=/path/to/tree  picks another tree (a small one to try it out).
//
// Run under: xvfb-run -a -s "-screen 0 1280x800x24" ./MainWindow_benchmark
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "BenchTree.h"
#include "QuenwickCore/DiskScanner.h"
#include "app/MainWindowSupport.h"
#include "model/AppModel.h"
#include "platform/DesktopAppearance.h"
#include "ring/RingItem.h"

namespace {

using brimvale::AppModel;
using quenwick::FileTree;
using Clock = std::chrono::steady_clock;

struct Window {
    std::unique_ptr<AppModel> model;
    std::unique_ptr<brimvale::DesktopAppearance> appearance;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow* window = nullptr;
    brimvale::RingItem* ring = nullptr;

    QList<QQuickItem*> named(const QString& name) const {
        QList<QQuickItem*> out, stack{window->contentItem()};
        while (!stack.isEmpty()) {
            QQuickItem* i = stack.takeLast();
            if (i->objectName() == name) out << i;
            stack << i->childItems();
        }
        return out;
    }
    // The list row of a node, or null.
    QQuickItem* row(FileTree::Node node) const {
        for (QQuickItem* box : named("stageBox"))
            for (QQuickItem* p = box; p; p = p->parentItem())
                if (p->property("node").isValid() && p->property("node").toUInt() == node) return p;
        return nullptr;
    }
};

// Made on first use; closed before the application object goes.
std::unique_ptr<Window> w;

Window* open() {
    if (w) return w.get();
    const std::string path = brimvale::bench::benchTreePath();
    if (path.empty()) return nullptr;
    w = std::make_unique<Window>();
    w->model = std::make_unique<AppModel>(AppModel::Services::current());
    quenwick::DiskScanner scanner(quenwick::ScanOptions::forVolume(path));
    w->model->setTarget(brimvale::ScanTarget::folder(path));
    w->model->installTree(scanner.scan(path), quenwick::VolumeInfo::containing(path));
    w->appearance = std::make_unique<brimvale::DesktopAppearance>(false);
    w->engine = std::make_unique<QQmlApplicationEngine>();
    w->engine->rootContext()->setContextProperty("appearance", w->appearance.get());
    w->engine->rootContext()->setContextProperty("appModel", w->model.get());
    brimvale::installMainWindow(*w->engine, *w->model);
    w->engine->load(QUrl("qrc:/qml/Main.qml"));
    if (w->engine->rootObjects().isEmpty()) return nullptr;
    w->window = qobject_cast<QQuickWindow*>(w->engine->rootObjects().first());
    w->window->resize(1280, 800);
    if (!QTest::qWaitForWindowExposed(w->window)) return nullptr;
    w->ring = w->window->findChild<brimvale::RingItem*>();
    w->ring->setReducedMotion(true);
    QTest::qWait(500);
    return w.get();
}

// Seconds from act() to the first frame swapped after `changed` fired.
template <class Signal>
double toFrame(Window& w, Signal changed, const std::function<void()>& act) {
    // Only a frame synchronised after the change shows it (the GUI thread waits during the sync).
    std::atomic<bool> armed{false}, synced{false};
    std::atomic<long long> swappedAt{0};
    const auto a = QObject::connect(w.model.get(), changed, w.model.get(), [&] { armed = true; });
    const auto s = QObject::connect(
        w.window, &QQuickWindow::afterSynchronizing, w.window,
        [&] {
            if (armed) synced = true;
        },
        Qt::DirectConnection);
    const auto f = QObject::connect(
        w.window, &QQuickWindow::frameSwapped, w.window,
        [&] {
            if (synced && swappedAt == 0) swappedAt = Clock::now().time_since_epoch().count();
        },
        Qt::DirectConnection);
    const auto began = Clock::now();
    act();
    (void)QTest::qWaitFor([&] { return swappedAt != 0; }, 5000);
    QObject::disconnect(a);
    QObject::disconnect(s);
    QObject::disconnect(f);
    if (swappedAt == 0) return 5;
    return std::chrono::duration<double>(Clock::duration(swappedAt.load()) -
                                         began.time_since_epoch())
        .count();
}

void report(benchmark::State& state, double seconds) {
    state.SetIterationTime(seconds);
    if (std::getenv("BRIMVALE_BENCH_VERBOSE")) std::fprintf(stderr, "%.2f ms\n", 1000 * seconds);
}

void BM_ClickFolderToFrame(benchmark::State& state) {
    Window* w = open();
    if (!w) {
        state.SkipWithError("no benchmark tree on disk (bench/make-bench-tree.sh) or no window");
        return;
    }
    const auto& tree = *w->model->tree();
    FileTree::Node folder = FileTree::root;
    for (const auto c : tree.childrenBySize(FileTree::root))
        if (tree.isDirectory(c)) {
            folder = c;
            break;
        }
    for (auto _ : state) {
        w->model->focusOn(FileTree::root);
        (void)QTest::qWaitFor([&] { return w->row(folder) != nullptr; }, 5000);
        QTest::qWait(100);
        QQuickItem* row = w->row(folder);
        if (!row) {
            state.SkipWithError("the folder's row is not on screen");
            return;
        }
        // The chevron sits at the row's right end.
        const QPoint chevron =
            row->mapToScene(QPointF(row->width() - 16, row->height() / 2)).toPoint();
        report(state, toFrame(*w, &AppModel::layoutIDChanged,
                              [&] { QTest::mouseClick(w->window, Qt::LeftButton, {}, chevron); }));
    }
}
BENCHMARK(BM_ClickFolderToFrame)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_HoverRowToFrame(benchmark::State& state) {
    Window* w = open();
    if (!w) {
        state.SkipWithError("no benchmark tree on disk (bench/make-bench-tree.sh) or no window");
        return;
    }
    w->model->focusOn(FileTree::root);
    QTest::qWait(300);
    const auto items = w->model->listItems();
    if (items.size() < 2) {
        state.SkipWithError("the root lists fewer than two items");
        return;
    }
    // Start away from the list, so that every move lands on a row other than the hovered one.
    QTest::mouseMove(w->window, QPoint(20, w->window->height() - 20));
    QTest::qWait(100);
    int i = 0;
    for (auto _ : state) {
        QQuickItem* row = w->row(items[static_cast<size_t>(i++ % 2)]);
        if (!row) {
            state.SkipWithError("the row is not on screen");
            return;
        }
        const QPoint at = row->mapToScene(QPointF(80, row->height() / 2)).toPoint();
        report(state,
               toFrame(*w, &AppModel::hoveredChanged, [&] { QTest::mouseMove(w->window, at); }));
        QTest::qWait(50);
    }
}
BENCHMARK(BM_HoverRowToFrame)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("QSG_RHI_BACKEND", "opengl", 0);
    // The model's files (ledger, settings) go to a home of their own.
    QTemporaryDir home;
    const QByteArray h = home.path().toUtf8();
    setenv("HOME", h.constData(), 1);
    setenv("XDG_DATA_HOME", (h + "/.local/share").constData(), 1);
    setenv("XDG_CACHE_HOME", (h + "/.cache").constData(), 1);
    setenv("XDG_CONFIG_HOME", (h + "/.config").constData(), 1);
    QApplication app(argc, argv);
    AppModel::registerQmlTypes();
    brimvale::RingItem::registerQmlType();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    w.reset();
    return 0;
}
