// Snapshot save and load against a warm full scan of the same tree, in one process and run.
// The tree is $BRIMVALE_BENCH_TREE, or the one bench/make-bench-tree.sh builds.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "QuenwickCore/DiskScanner.h"
#include "QuenwickCore/Snapshot.h"

namespace {

std::string benchTree() {
    if (const char* env = std::getenv("BRIMVALE_BENCH_TREE")) return env;
    const std::string script = std::string(BRIMVALE_SOURCE_DIR) + "/bench/make-bench-tree.sh";
    std::string out;
    if (FILE* p = popen(script.c_str(), "r")) {
        char buf[4096];
        while (fgets(buf, sizeof buf, p))
            out += buf;
        pclose(p);
    }
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

const std::string& tree() {
    static const std::string path = benchTree();
    return path;
}

std::shared_ptr<quenwick::FileTree> scanned() {
    static auto t = quenwick::DiskScanner(quenwick::ScanOptions::forVolume(tree())).scan(tree());
    return t;
}

std::string snapshotFile() {
    return std::filesystem::temp_directory_path() / "brimvale-bench.qws";
}

void BM_FullScan(benchmark::State& state) {
    for (auto _ : state) {
        auto t = quenwick::DiskScanner(quenwick::ScanOptions::forVolume(tree())).scan(tree());
        benchmark::DoNotOptimize(t->size(0));
        state.counters["nodes"] = static_cast<double>(t->count());
    }
}

void BM_Save(benchmark::State& state) {
    auto t = scanned();
    const auto threads = static_cast<unsigned>(state.range(0));
    for (auto _ : state) {
        auto error = quenwick::Snapshot::save(*t, {t->rootPath(), 0, 0}, snapshotFile(), threads);
        if (error) state.SkipWithError(error->describe().c_str());
    }
    const auto bytes = std::filesystem::file_size(snapshotFile());
    state.counters["fileBytes"] = static_cast<double>(bytes);
    state.counters["bytesPerNode"] = static_cast<double>(bytes) / static_cast<double>(t->count());
}

void BM_Load(benchmark::State& state) {
    auto t = scanned();
    (void)quenwick::Snapshot::save(*t, {t->rootPath(), 0, 0}, snapshotFile(), 2);
    const auto threads = static_cast<unsigned>(state.range(0));
    for (auto _ : state) {
        auto loaded = quenwick::Snapshot::load(snapshotFile(), threads);
        if (loaded.index() != 0) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(loaded);
    }
}

BENCHMARK(BM_FullScan)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Save)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Load)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
