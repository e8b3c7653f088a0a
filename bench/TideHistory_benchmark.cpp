// Space Watch history over 30, 365 and 3,650 days of daily files: load, prune, the growth of the
// last 7 days and the fill estimate, as the app runs them after each record. The files are written
// afresh before every iteration, outside the timing, since prune deletes most of them. "perDay" is
// the wall time per daily file and should stay flat as the history grows.

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "QuenwickCore/TideHistory.h"

namespace {

using quenwick::TideHistory;
using quenwick::TideSummary;

constexpr double kDay = 86400;
constexpr int kFoldersPerDay = 200;
// Wednesday 2026-12-09 12:00 UTC; fixed so every run prunes the same files.
constexpr double kNow = 1796817600;

class ScratchFolder {
public:
    ScratchFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/brimvale-bench-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchFolder() {
        if (path_.empty()) return;
        empty();
        rmdir(path_.c_str());
    }
    const std::string& path() const { return path_; }

    void empty() const {
        DIR* dir = opendir(path_.c_str());
        if (dir == nullptr) return;
        std::vector<std::string> names;
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
        for (const auto& name : names)
            unlink((path_ + "/" + name).c_str());
    }

private:
    std::string path_;
};

// One summary a day ending today: a home folder tree whose folders grow a little every day.
void writeHistory(const std::string& directory, int days) {
    for (int k = days - 1; k >= 0; --k) {
        TideSummary s;
        s.date = kNow - k * kDay;
        s.volumeTotal = 1'000'000'000'000;
        s.volumeUsed = 400'000'000'000 + static_cast<uint64_t>(days - k) * 150'000'000;
        for (int f = 0; f < kFoldersPerDay; ++f) {
            const std::string path =
                "/home/ann/Projects/p" + std::to_string(f / 10) + "/f" + std::to_string(f % 10);
            s.folders[path] =
                20'000'000 + static_cast<uint64_t>(f) * 1'000'000 +
                static_cast<uint64_t>(days - k) * static_cast<uint64_t>(f % 7) * 5'000'000;
        }
        // Written plainly, without the store's flush per file: only the timed part must be real.
        std::ofstream(directory + "/" + *TideHistory::fileName(s.date)) << s.toJson();
    }
}

void historyRound(benchmark::State& state) {
    const int days = static_cast<int>(state.range(0));
    ScratchFolder scratch;
    if (scratch.path().empty()) {
        state.SkipWithError("no scratch folder");
        return;
    }
    setenv("TZ", "UTC0", 1);
    const TideHistory history(scratch.path());
    size_t grown = 0;
    for (auto _ : state) {
        state.PauseTiming();
        scratch.empty();
        writeHistory(scratch.path(), days);
        state.ResumeTiming();

        const auto loaded = history.load(kNow);
        history.prune(kNow);
        const auto growth = TideHistory::growthOverDays(loaded, 7);
        const auto forecast = TideHistory::forecastDaysToFull(loaded, kNow);
        grown = growth.size();
        benchmark::DoNotOptimize(forecast);
    }
    state.counters["perDay"] = benchmark::Counter(
        static_cast<double>(days),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["grownFolders"] = static_cast<double>(grown);
}

BENCHMARK(historyRound)->Arg(30)->Arg(365)->Arg(3650)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
