// Resident memory over long use through the loaded library: 10,000 environments created and
// released and a million frames of four to six bars matched, after a warm-up of a tenth of that.
// Counters: the growth of the resident set over the run, in bytes, and the share of frames matched.

#include <benchmark/benchmark.h>

#include "simulation/ResidentMemory.h"

namespace {

using namespace Lumetra::Testing;

constexpr std::size_t environmentCount = 10'000;
constexpr std::size_t frameCount = 1'000'000;

void residentMemoryOverLongUse(benchmark::State& state) {
    const LibraryHost host;
    const EnvironmentChurn churn(host);
    churn.run(environmentCount / 10, frameCount / 10);
    std::int64_t growth = 0;
    std::size_t identified = 0;
    for (auto _ : state) {
        const std::int64_t before = residentSetBytes();
        identified = churn.run(environmentCount, frameCount);
        growth = residentSetBytes() - before;
    }
    state.counters["residentGrowthBytes"] = static_cast<double>(growth);
    state.counters["matched"] = static_cast<double>(identified) / frameCount;
}

}  // namespace

BENCHMARK(residentMemoryOverLongUse)
    ->Name("ResidentMemory/10000Environments/1000000Frames")
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
