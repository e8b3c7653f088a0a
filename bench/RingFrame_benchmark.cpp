// Frame time of the ring (render and swap) on whatever OpenGL the display offers (Mesa's
// llvmpipe under Xvfb here): the morph from the root of the 1,000,000-file tree to a deep
// folder, the densest morph the model produces (two replaced trees of half-degree arcs on every
// ring: everything fades while everything grows), and the same window with an empty scene. Each
// with one and with four samples per pixel; vertices per frame as a counter.
//
// Run under: xvfb-run -a -s "-screen 0 1280x800x24" ./RingFrame_benchmark
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQuickItem>
#include <QQuickView>
#include <QSurfaceFormat>
#include <QTest>

#include <atomic>
#include <chrono>
#include <memory>

#include "BenchTree.h"
#include "QuenwickCore/DiskScanner.h"
#include "model/AppModel.h"
#include "ring/RingItem.h"

namespace {

using brimvale::AppModel;
using brimvale::RingItem;
using quenwick::FileTree;
using Clock = std::chrono::steady_clock;

std::unique_ptr<QQuickView> makeView(int samples, bool emptyScene) {
    auto view = std::make_unique<QQuickView>();
    QSurfaceFormat format = view->format();
    format.setSamples(samples);
    format.setSwapInterval(0);  // frames back to back, not at the display's rate
    view->setFormat(format);
    view->setResizeMode(QQuickView::SizeRootObjectToView);
    view->setColor(QColor(246, 246, 249));
    if (emptyScene) {
        QQmlComponent c(view->engine());
        c.setData(
            "import QtQuick\nRectangle { color: '#f6f6f9'\n"
            "NumberAnimation on opacity { from: 0.99; to: 1; duration: 100000 } }",
            QUrl());
        view->setContent(QUrl(), &c, c.create());
    } else {
        view->setSource(QUrl("qrc:/qml/RingView.qml"));
    }
    view->resize(1280, 800);
    view->show();
    if (!QTest::qWaitForWindowExposed(view.get())) return nullptr;
    return view;
}

AppModel& model() {
    static AppModel m(AppModel::Services::forEnvironment(brimvale::AppEnvironment::current()));
    return m;
}

// Frames swapped and seconds spent until `running` turns false (or `limit` passes).
struct Frames {
    int count = 0;
    double seconds = 0;
};

Frames measure(QQuickWindow& window, const std::function<void()>& start,
               const std::function<bool()>& running, double limit = 5) {
    std::atomic<int> frames{0};
    const auto c = QObject::connect(
        &window, &QQuickWindow::frameSwapped, &window, [&] { ++frames; }, Qt::DirectConnection);
    const auto began = Clock::now();
    start();
    QTest::qWait(20);
    while (running() && std::chrono::duration<double>(Clock::now() - began).count() < limit)
        QTest::qWait(5);
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    QObject::disconnect(c);
    return {frames.load(), seconds};
}

// The same until the ring stops moving, keeping the most vertices a frame had.
Frames measureMorph(QQuickWindow& window, const RingItem& ring, const std::function<void()>& start,
                    int& vertices) {
    return measure(window, start, [&] {
        vertices = std::max(vertices, ring.vertexCount());
        return ring.animating();
    });
}

void report(benchmark::State& state, const Frames& f, int vertices) {
    state.SetIterationTime(f.count > 0 ? f.seconds / f.count : f.seconds);
    state.counters["frames"] = f.count;
    state.counters["vertices"] = vertices;
    state.counters["ms_per_frame"] = f.count > 0 ? 1000 * f.seconds / f.count : 0;
}

// A tree whose every ring holds about 700 arcs just over half a degree wide.
std::shared_ptr<FileTree> denseTree(const std::string& root) {
    auto tree = std::make_shared<FileTree>(root);
    for (int i = 0; i < 700; ++i) {
        auto at = tree->append(FileTree::root, "d" + std::to_string(i), 0, 0, tree->count(),
                               quenwick::NodeFlags::directory);
        for (int d = 0; d < 4; ++d)
            at = tree->append(at, "c", 0, 0, tree->count(), quenwick::NodeFlags::directory);
        tree->append(at, "f", 1000, 0, tree->count(), {});
    }
    tree->propagateSizes();
    return tree;
}

void BM_DensestMorph(benchmark::State& state) {
    auto view = makeView(static_cast<int>(state.range(0)), false);
    if (!view) {
        state.SkipWithError("no window");
        return;
    }
    auto* ring = view->rootObject()->findChild<RingItem*>();
    view->rootObject()->setProperty("model", QVariant::fromValue(&model()));
    model().setTarget(brimvale::ScanTarget::folder("/dense-a"));
    model().installTree(denseTree("/dense-a"), std::nullopt);
    (void)QTest::qWaitFor([&] { return !ring->animating(); }, 5000);
    bool flip = false;
    int vertices = 0;
    for (auto _ : state) {
        flip = !flip;
        const std::string root = flip ? "/dense-b" : "/dense-a";
        auto tree = denseTree(root);
        const Frames f = measureMorph(
            *view, *ring,
            [&] {
                model().dropTree();
                model().setTarget(brimvale::ScanTarget::folder(root));
                model().installTree(tree, std::nullopt);
            },
            vertices);
        report(state, f, vertices);
    }
}
BENCHMARK(BM_DensestMorph)->Arg(1)->Arg(4)->UseManualTime()->Iterations(3);

void BM_MorphToDeepFolder(benchmark::State& state) {
    const std::string path = brimvale::bench::benchTreePath();
    if (path.empty()) {
        state.SkipWithError("no benchmark tree on disk (bench/make-bench-tree.sh)");
        return;
    }
    static const std::shared_ptr<FileTree> tree = [&] {
        quenwick::DiskScanner scanner(quenwick::ScanOptions::forVolume(path));
        return std::shared_ptr<FileTree>(scanner.scan(path));
    }();
    // The deep folder: the biggest folder three levels down.
    FileTree::Node deep = FileTree::root;
    for (int level = 0; level < 3; ++level)
        for (const auto c : tree->childrenBySize(deep))
            if (tree->isDirectory(c)) {
                deep = c;
                break;
            }
    auto view = makeView(static_cast<int>(state.range(0)), false);
    if (!view) {
        state.SkipWithError("no window");
        return;
    }
    auto* ring = view->rootObject()->findChild<RingItem*>();
    view->rootObject()->setProperty("model", QVariant::fromValue(&model()));
    model().setTarget(brimvale::ScanTarget::folder(tree->rootPath()));
    model().installTree(tree, std::nullopt);
    int vertices = 0;
    for (auto _ : state) {
        model().focusOn(FileTree::root);
        (void)QTest::qWaitFor([&] { return !ring->animating(); }, 5000);
        const Frames f = measureMorph(
            *view, *ring, [&] { model().focusOn(deep); }, vertices);
        report(state, f, vertices);
    }
}
BENCHMARK(BM_MorphToDeepFolder)->Arg(1)->Arg(4)->UseManualTime()->Iterations(3);

void BM_EmptyScene(benchmark::State& state) {
    auto view = makeView(static_cast<int>(state.range(0)), true);
    if (!view) {
        state.SkipWithError("no window");
        return;
    }
    for (auto _ : state) {
        const auto began = Clock::now();
        const Frames f = measure(
            *view, [] {},
            [&] { return std::chrono::duration<double>(Clock::now() - began).count() < 0.5; });
        report(state, f, 0);
    }
}
BENCHMARK(BM_EmptyScene)->Arg(1)->Arg(4)->UseManualTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    setenv("QSG_RHI_BACKEND", "opengl", 0);
    QGuiApplication app(argc, argv);
    AppModel::registerQmlTypes();
    RingItem::registerQmlType();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
