// LZFSE codec speed and ratio on the snapshot-like and mixed vector inputs. Rates are MB of
// uncompressed data per second; "vsReference" is our stream size over the reference encoder's.
// Single-thread figures use CPU time; the threaded variants (and their 1-thread twins, for the
// gain ratio) use wall-clock time, since the work runs on threads of their own.

#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Lzfse/Lzfse.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Sample {
    std::string name;
    Bytes input;
    Bytes reference;  // the reference encoder's stream of `input`
};

std::vector<Sample> loadSamples() {
    std::vector<Sample> samples;
    for (const char* name : {"snapshot-2m", "mixed-4m"}) {
        const std::string base = std::string(BRIMVALE_SHARED_DIR) + "/lzfse/vectors/ref/" + name;
        samples.push_back({name, readFile(base + ".bin"), readFile(base + ".lzfse")});
    }
    return samples;
}

void report(benchmark::State& state, const Sample& sample, std::size_t streamSize) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(sample.input.size()));
    state.counters["streamBytes"] = static_cast<double>(streamSize);
    state.counters["ratio"] =
        static_cast<double>(sample.input.size()) / static_cast<double>(streamSize);
    state.counters["vsReference"] =
        static_cast<double>(streamSize) / static_cast<double>(sample.reference.size());
}

void encodeBenchmark(benchmark::State& state, const Sample* sample, unsigned threads) {
    if (sample->input.empty()) {
        state.SkipWithError("vector input missing");
        return;
    }
    std::size_t streamSize = 0;
    for (auto _ : state) {
        const Bytes stream = lzfse::encode(sample->input, lzfse::Options{threads});
        streamSize = stream.size();
        benchmark::DoNotOptimize(stream.data());
    }
    report(state, *sample, streamSize);
}

// Decodes our own stream (threads > 1: the stream our threaded encoder writes) or, with
// `reference`, the reference encoder's stream. The output buffer is allocated once.
void decodeBenchmark(benchmark::State& state, const Sample* sample, unsigned threads,
                     bool reference) {
    if (sample->input.empty()) {
        state.SkipWithError("vector input missing");
        return;
    }
    const Bytes stream =
        reference ? sample->reference : lzfse::encode(sample->input, lzfse::Options{threads});
    Bytes output;
    output.reserve(sample->input.size());
    for (auto _ : state) {
        const auto error =
            lzfse::decodeInto(stream, sample->input.size(), output, lzfse::Options{threads});
        if (error) {
            state.SkipWithError(std::string(lzfse::describe(error->error)).c_str());
            break;
        }
        benchmark::DoNotOptimize(output.data());
    }
    if (output != sample->input) state.SkipWithError("decoded bytes differ from the input");
    report(state, *sample, stream.size());
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    static const std::vector<Sample> samples = loadSamples();
    for (const Sample& s : samples) {
        const Sample* p = &s;
        benchmark::RegisterBenchmark(("Encode/" + s.name).c_str(), encodeBenchmark, p, 1u)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Decode/" + s.name).c_str(), decodeBenchmark, p, 1u, false)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("DecodeReferenceStream/" + s.name).c_str(), decodeBenchmark,
                                     p, 1u, true)
            ->Unit(benchmark::kMillisecond);
        for (unsigned threads : {1u, 2u}) {
            const std::string suffix = "/threads:" + std::to_string(threads) + "/wall";
            benchmark::RegisterBenchmark(("Encode/" + s.name + suffix).c_str(), encodeBenchmark, p,
                                         threads)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
            benchmark::RegisterBenchmark(("Decode/" + s.name + suffix).c_str(), decodeBenchmark, p,
                                         threads, false)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
