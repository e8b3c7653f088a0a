// Ring layout and hit testing on the 1,000,000-file benchmark tree (bench/make-bench-tree.sh),
// against a warm full scan of the same tree. Without that tree on disk, a synthetic tree of the
// same size and shape is built in memory and the scan is skipped.
//   BRIMVALE_BENCH_TREE=/path/to/tree  picks another tree.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BenchTree.h"
#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/FileTree.h"
#include "RingKit/RingHitIndex.h"
#include "RingKit/RingLayout.h"

namespace {

using quenwick::FileTree;
using ringkit::RingLayout;

using brimvale::bench::benchTreePath;

std::shared_ptr<FileTree> scanTree(const std::string& path) {
    quenwick::DiskScanner scanner(quenwick::ScanOptions::forVolume(path));
    return scanner.scan(path);
}

// A home-folder shape like the generator's: 80,000 folders mostly 3-12 deep, a few crowded ones,
// 1,000,000 files with log-normal sizes and a long tail. Appended folder by folder, as a scan
// does, so siblings lie side by side in memory.
std::shared_ptr<FileTree> syntheticTree() {
    constexpr int kDirs = 80'000, kFiles = 1'000'000;
    std::mt19937_64 rng(7);
    std::vector<std::vector<int>> subdirs(kDirs + 1);
    std::vector<int> depth(kDirs + 1, 0);
    for (int d = 1; d <= kDirs; ++d) {
        int parent = d <= 12 ? 0 : static_cast<int>(rng() % static_cast<uint64_t>(d));
        while (depth[parent] >= 12)
            parent = static_cast<int>(rng() % static_cast<uint64_t>(d));
        subdirs[static_cast<size_t>(parent)].push_back(d);
        depth[static_cast<size_t>(d)] = depth[static_cast<size_t>(parent)] + 1;
    }
    std::vector<std::vector<uint64_t>> files(kDirs + 1);
    std::lognormal_distribution<double> size(8.5, 2.6);
    for (int i = 0; i < kFiles; ++i) {
        // A fifth of the files crowd into 40 folders of 5,000 each.
        const auto dir = i % 5 == 0 ? 1 + (i / 5) % 40 : rng() % (kDirs + 1);
        const double s = rng() % 20 == 0 ? 0.0 : std::min(size(rng), 8.0e9);
        files[static_cast<size_t>(dir)].push_back(static_cast<uint64_t>(s));
    }
    auto tree = std::make_shared<FileTree>("/synthetic");
    tree->reserve(kDirs + kFiles + 1);
    std::vector<std::pair<int, FileTree::Node>> queue{{0, FileTree::root}};
    for (size_t q = 0; q < queue.size(); ++q) {
        const auto [dir, node] = queue[q];
        int k = 0;
        for (const uint64_t bytes : files[static_cast<size_t>(dir)])
            tree->append(node, "f" + std::to_string(k++), bytes, 0, 0, {});
        for (const int sub : subdirs[static_cast<size_t>(dir)]) {
            queue.emplace_back(sub, tree->append(node, "d" + std::to_string(sub), 0, 0, 0,
                                                 quenwick::NodeFlags::directory));
        }
    }
    tree->propagateSizes();
    return tree;
}

struct Bench {
    std::string path = benchTreePath();
    std::shared_ptr<FileTree> tree = path.empty() ? syntheticTree() : scanTree(path);
    FileTree::Node deep = deepestBigFolder(*tree);

    // The deepest folder holding at least 1 % of the tree's items whose ring still has 100 arcs
    // or more: a click far inward that leaves plenty to lay out.
    static FileTree::Node deepestBigFolder(const FileTree& tree) {
        // Parents come before their children in a scanned tree, so one backward pass sums up.
        std::vector<uint32_t> below(tree.count(), 1);
        std::vector<uint32_t> depth(tree.count(), 0);
        for (size_t n = tree.count(); n-- > 1;) {
            if (tree.parent(n) != FileTree::none) below[tree.parent(n)] += below[n];
        }
        FileTree::Node best = FileTree::root;
        for (size_t n = 1; n < tree.count(); ++n) {
            if (tree.parent(n) != FileTree::none) depth[n] = depth[tree.parent(n)] + 1;
            if (!tree.isDirectory(n) || below[n] * 100 < tree.count() || depth[n] <= depth[best])
                continue;
            if (RingLayout::layout(tree, static_cast<FileTree::Node>(n)).size() >= 100)
                best = static_cast<FileTree::Node>(n);
        }
        return best;
    }
};

Bench& bench() {
    static Bench b;
    return b;
}

void BM_WarmFullScan(benchmark::State& state) {
    const auto& b = bench();
    if (b.path.empty()) {
        state.SkipWithError("no benchmark tree on disk (bench/make-bench-tree.sh)");
        return;
    }
    for (auto _ : state) {
        auto tree = scanTree(b.path);
        benchmark::DoNotOptimize(tree->count());
    }
    state.counters["nodes"] = static_cast<double>(b.tree->count());
}
BENCHMARK(BM_WarmFullScan)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

size_t countBelow(const FileTree& tree, FileTree::Node n) {
    size_t count = 1;
    for (auto c = tree.firstChild(n); c != FileTree::none; c = tree.nextSibling(c))
        count += countBelow(tree, c);
    return count;
}

void layoutOf(benchmark::State& state, FileTree::Node focus) {
    const auto& tree = *bench().tree;
    size_t segments = 0;
    for (auto _ : state) {
        auto out = RingLayout::layout(tree, focus);
        segments = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["segments"] = static_cast<double>(segments);
    int depth = 0;
    for (auto n = focus; n != FileTree::root; n = tree.parent(n))
        ++depth;
    state.counters["focusDepth"] = depth;
    state.counters["focusNodes"] =
        static_cast<double>(tree.size(focus) > 0 ? countBelow(tree, focus) : 0);
}

void BM_LayoutRoot(benchmark::State& state) {
    layoutOf(state, FileTree::root);
}
BENCHMARK(BM_LayoutRoot)->Unit(benchmark::kMicrosecond);

void BM_LayoutDeepFocus(benchmark::State& state) {
    layoutOf(state, bench().deep);
}
BENCHMARK(BM_LayoutDeepFocus)->Unit(benchmark::kMicrosecond);

// Points spread evenly over the ring's square, so centre, rings, gaps and misses all occur.
std::vector<std::pair<double, double>> probePoints() {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<std::pair<double, double>> points(4096);
    for (auto& p : points)
        p = {u(rng), u(rng)};
    return points;
}

void BM_HitTestLinear(benchmark::State& state) {
    const auto segments = RingLayout::layout(*bench().tree, FileTree::root);
    const auto points = probePoints();
    const ringkit::RingGeometry geometry;
    size_t i = 0;
    for (auto _ : state) {
        const auto& [x, y] = points[i++ & 4095];
        benchmark::DoNotOptimize(RingLayout::hitTest(segments, geometry, x, y));
    }
    state.counters["segments"] = static_cast<double>(segments.size());
}
BENCHMARK(BM_HitTestLinear);

void BM_HitTestIndexed(benchmark::State& state) {
    const auto segments = RingLayout::layout(*bench().tree, FileTree::root);
    const auto points = probePoints();
    const ringkit::RingHitIndex index(segments, ringkit::RingGeometry{});
    size_t i = 0;
    for (auto _ : state) {
        const auto& [x, y] = points[i++ & 4095];
        benchmark::DoNotOptimize(index.hitTest(x, y));
    }
    state.counters["segments"] = static_cast<double>(segments.size());
}
BENCHMARK(BM_HitTestIndexed);

void BM_HitIndexBuild(benchmark::State& state) {
    const auto segments = RingLayout::layout(*bench().tree, FileTree::root);
    for (auto _ : state) {
        ringkit::RingHitIndex index(segments, ringkit::RingGeometry{});
        benchmark::DoNotOptimize(&index);
    }
}
BENCHMARK(BM_HitIndexBuild)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
