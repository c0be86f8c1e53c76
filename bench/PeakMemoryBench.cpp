// Peak resident memory of creating one environment from its code through the loaded library: the
// high-water mark of the resident set is reset, the environment is created and released, and the
// mark read back. Counters: the process's peak in bytes and its rise over the resident set before.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <random>
#include <string>

#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/LibraryHost.h"
#include "simulation/MatchScenarios.h"
#include "simulation/RandomBars.h"
#include "simulation/ResidentMemory.h"

namespace {

using namespace Lumetra::Testing;
namespace Grid = Lumetra::Vesk::Environment::HorizontalGrid;

/// The high-water mark of the resident set, in bytes, from /proc/self/status.
std::int64_t peakResidentBytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
    throw std::runtime_error("cannot read VmHWM from /proc/self/status");
}

/// Sets the high-water mark back to the current resident set.
void resetPeakResident() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

void peakOfCreation(benchmark::State& state, const Grid::EnvironmentDescription& description) {
    const LibraryHost host;
    const std::string code = LumetraTest::writeEnvironmentCode(description);
    std::int64_t peak = 0, rise = 0;
    for (auto _ : state) {
        const std::int64_t before = residentSetBytes();
        resetPeakResident();
        getMarkers(*host.createEnvironment(code));
        peak = peakResidentBytes();
        rise = peak - before;
    }
    state.counters["peakResidentBytes"] = static_cast<double>(peak);
    state.counters["peakRiseBytes"] = static_cast<double>(rise);
}

/// Long floor bars (geometry b) at random on `count` cells of a side × side grid.
Grid::EnvironmentDescription layout(int side, std::size_t count) {
    Grid::EnvironmentDescription description = matchGeometries()[1].geometry;
    std::mt19937 random(20240607);
    description.size = {static_cast<unsigned long>(side), static_cast<unsigned long>(side)};
    description.bars = Grid::Testing::randomBars(random, side, side, count);
    // The draw passes through a list of every cell: give that memory back before measuring.
    description.bars.shrink_to_fit();
    return description;
}

void sparse100k(benchmark::State& state) { peakOfCreation(state, layout(4096, 100'000)); }
void quarterFull80(benchmark::State& state) { peakOfCreation(state, layout(80, 80 * 80 / 4)); }

}  // namespace

BENCHMARK(sparse100k)->Name("PeakMemory/CreateEnvironment/4096x4096/100000bars")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(quarterFull80)->Name("PeakMemory/CreateEnvironment/80x80/1600bars")->Iterations(1)->Unit(benchmark::kMillisecond);
