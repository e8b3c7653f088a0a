// The app model on the 1,000,000-file benchmark tree (bench/make-bench-tree.sh), as ratios to a
// warm full scan of the same tree measured in the same run:
//   - everything a view reads after a click on a folder (focusOn with its relayout and list
//     updates, listItems, breadcrumbs, storage, fullness): goal at most 1/500 of the scan;
//   - removeFromView of 1,000 staged items: goal at most 1/100;
//   - the model's own memory beyond the tree: goal at most 10 % of the tree's.
// Each benchmark reports "ofScan" (its time per iteration over the scan's) or "ofTree".
//   BRIMVALE_BENCH_TREE=/path/to/tree  picks another tree.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QCoreApplication>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "BenchTree.h"
#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/FileTree.h"
#include "model/AppModel.h"

namespace brimvale {

struct AppModelProbe {
    static void setLowTide(AppModel& model, StagedItems items) {
        model.setLowTide(std::move(items));
    }
    static void removeFromView(AppModel& model, const StagedItems& items) {
        TrashResult result;
        model.removeFromView(items, result, true);
    }
};

}  // namespace brimvale

namespace {

using brimvale::AppModel;
using brimvale::AppModelProbe;
using quenwick::FileTree;
using Clock = std::chrono::steady_clock;

std::shared_ptr<FileTree> scanTree(const std::string& path) {
    quenwick::DiskScanner scanner(quenwick::ScanOptions::forVolume(path));
    return scanner.scan(path);
}

size_t treeBytes(const FileTree& tree) {
    const auto& s = tree.storage();
    return s.parents.capacity() * 4 + s.firstChildren.capacity() * 4 +
           s.nextSiblings.capacity() * 4 + s.sizes.capacity() * 8 + s.mtimes.capacity() * 8 +
           s.inodes.capacity() * 8 + s.flagBits.capacity() * 2 + s.nameOffsets.capacity() * 4 +
           s.nameLengths.capacity() * 2 + s.names.capacity();
}

struct Bench {
    std::string path = brimvale::bench::benchTreePath();
    std::shared_ptr<FileTree> tree;
    double scanSeconds = 0;
    // Folders to click on: the root's biggest folder and its biggest folder.
    FileTree::Node first = FileTree::root, second = FileTree::root;
    // 1,000 files spread over the tree.
    std::vector<std::string> victims;

    Bench() {
        if (path.empty()) return;
        tree = scanTree(path);  // warms the caches
        const auto started = Clock::now();
        tree = scanTree(path);
        scanSeconds = std::chrono::duration<double>(Clock::now() - started).count();
        for (const auto c : tree->childrenBySize(FileTree::root)) {
            if (!tree->isDirectory(c)) continue;
            first = c;
            for (const auto g : tree->childrenBySize(c))
                if (tree->isDirectory(g)) {
                    second = g;
                    break;
                }
            break;
        }
        std::vector<FileTree::Node> files;
        for (FileTree::Node n = 1; n < tree->count(); ++n)
            if (!tree->isDirectory(n)) files.push_back(n);
        const size_t step = files.size() / 1000 + 1;
        for (size_t i = 0; i < files.size() && victims.size() < 1000; i += step)
            victims.push_back(tree->path(files[i]));
    }

    std::unique_ptr<AppModel> model() const {
        auto m = std::make_unique<AppModel>(
            AppModel::Services::forEnvironment(brimvale::AppEnvironment::current()));
        m->setTarget(brimvale::ScanTarget::folder(tree->rootPath()));
        m->setStartupVolume(quenwick::VolumeInfo::containing("/"));
        return m;
    }
};

Bench& bench() {
    static Bench b;
    return b;
}

bool skipWithoutTree(benchmark::State& state) {
    if (!bench().path.empty()) return false;
    state.SkipWithError("no benchmark tree on disk (bench/make-bench-tree.sh)");
    return true;
}

void reportOfScan(benchmark::State& state, Clock::duration spent) {
    const double perIteration = std::chrono::duration<double>(spent).count() /
                                static_cast<double>(std::max<int64_t>(state.iterations(), 1));
    state.counters["ofScan"] = perIteration / bench().scanSeconds;
    state.counters["scanMs"] = bench().scanSeconds * 1000;
}

void BM_WarmFullScan(benchmark::State& state) {
    if (skipWithoutTree(state)) return;
    for (auto _ : state) {
        auto tree = scanTree(bench().path);
        benchmark::DoNotOptimize(tree->count());
    }
    state.counters["nodes"] = static_cast<double>(bench().tree->count());
}
BENCHMARK(BM_WarmFullScan)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A click on a folder and everything the views then read, alternating between two folders.
void BM_ClickOnAFolder(benchmark::State& state) {
    if (skipWithoutTree(state)) return;
    auto model = bench().model();
    model->installTree(bench().tree, quenwick::VolumeInfo::containing(bench().path));
    Clock::duration spent{};
    bool flip = false;
    for (auto _ : state) {
        const auto started = Clock::now();
        model->focusOn(flip ? bench().first : bench().second);
        benchmark::DoNotOptimize(model->listItems().size());
        benchmark::DoNotOptimize(model->breadcrumbs().size());
        benchmark::DoNotOptimize(model->storage());
        benchmark::DoNotOptimize(model->fullness());
        spent += Clock::now() - started;
        flip = !flip;
    }
    state.counters["segments"] = static_cast<double>(model->segments().size());
    state.counters["rows"] = model->items()->rowCount();
    reportOfScan(state, spent);
}
BENCHMARK(BM_ClickOnAFolder)->Unit(benchmark::kMicrosecond);

brimvale::StagedItems stagedVictims() {
    brimvale::StagedItems items;
    for (const auto& p : bench().victims) {
        brimvale::StagedItem item;
        item.id = QUuid::createUuid();
        item.path = p;
        item.name = QString::fromStdString(p.substr(p.find_last_of('/') + 1));
        items.push_back(std::move(item));
    }
    return items;
}

void BM_RemoveFromView1000(benchmark::State& state) {
    if (skipWithoutTree(state)) return;
    auto model = bench().model();
    const auto items = stagedVictims();
    Clock::duration spent{};
    for (auto _ : state) {
        state.PauseTiming();
        model->installTree(std::make_shared<FileTree>(bench().tree->compacted()), std::nullopt);
        AppModelProbe::setLowTide(*model, items);
        state.ResumeTiming();
        const auto started = Clock::now();
        AppModelProbe::removeFromView(*model, items);
        spent += Clock::now() - started;
    }
    state.counters["items"] = static_cast<double>(items.size());
    reportOfScan(state, spent);
}
BENCHMARK(BM_RemoveFromView1000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// What the model allocates on top of the tree: the model, a shown tree, a click, and a Cleanup
// List of 1,000 items.
void BM_ModelMemory(benchmark::State& state) {
    if (skipWithoutTree(state)) return;
    size_t own = 0;
    for (auto _ : state) {
        const size_t before = mallinfo2().uordblks;
        {
            auto model = bench().model();
            model->installTree(bench().tree, quenwick::VolumeInfo::containing(bench().path));
            model->focusOn(bench().first);
            model->goUp();
            AppModelProbe::setLowTide(*model, stagedVictims());
            own = mallinfo2().uordblks - before;
        }
    }
    const size_t tree = treeBytes(*bench().tree);
    state.counters["modelBytes"] = static_cast<double>(own);
    state.counters["treeBytes"] = static_cast<double>(tree);
    state.counters["ofTree"] = static_cast<double>(own) / static_cast<double>(tree);
}
BENCHMARK(BM_ModelMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
