// The suggestions analysis on the 1,000,000-file benchmark tree (bench/make-bench-tree.sh), taken
// as the home folder, against a warm full scan of the same tree; and each rule on its own. The
// duplicate finder reads files: its time here is what the tree's large files cost. Without the
// tree on disk the benchmarks are skipped.
//   BRIMVALE_BENCH_TREE=/path/to/tree  picks another tree.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "BenchTree.h"
#include "QuenwickCore/DeletionGuard.h"
#include "QuenwickCore/DiskScanner.h"
#include "Shoreline/LastUsed.h"
#include "Shoreline/Shoreline.h"

namespace {

using quenwick::FileTree;

using brimvale::bench::benchTreePath;

struct Fixture {
    std::string root = benchTreePath();
    std::shared_ptr<const FileTree> tree;

    Fixture() {
        if (root.empty()) return;
        quenwick::DiskScanner scanner(quenwick::ScanOptions::forVolume(root));
        tree = scanner.scan(root);
    }

    shoreline::ShorelineContext context() const {
        quenwick::DeletionGuard guard(root, "", [](const std::string&) { return false; });
        return shoreline::ShorelineContext(tree, root, guard);
    }
};

const Fixture& fixture() {
    static const Fixture f;
    return f;
}

void BM_WarmFullScan(benchmark::State& state) {
    const auto& root = fixture().root;
    if (root.empty()) return state.SkipWithError("no benchmark tree (bench/make-bench-tree.sh)");
    for (auto _ : state) {
        quenwick::DiskScanner scanner(quenwick::ScanOptions::forVolume(root));
        benchmark::DoNotOptimize(scanner.scan(root));
    }
}
BENCHMARK(BM_WarmFullScan)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Analyze(benchmark::State& state) {
    if (!fixture().tree) return state.SkipWithError("no benchmark tree");
    const auto ctx = fixture().context();
    size_t findings = 0;
    for (auto _ : state) {
        const auto categories = shoreline::Shoreline::analyze(ctx);
        findings = 0;
        for (const auto& c : categories)
            findings += c.findings.size();
    }
    state.counters["findings"] = static_cast<double>(findings);
}
BENCHMARK(BM_Analyze)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Rule(benchmark::State& state) {
    if (!fixture().tree) return state.SkipWithError("no benchmark tree");
    const auto& rule = *shoreline::Shoreline::rules()[static_cast<size_t>(state.range(0))];
    state.SetLabel(rule.id());
    const auto ctx = fixture().context();
    size_t candidates = 0;
    for (auto _ : state)
        candidates = rule.candidates(ctx).size();
    state.counters["candidates"] = static_cast<double>(candidates);
}
BENCHMARK(BM_Rule)->DenseRange(0, 9)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
