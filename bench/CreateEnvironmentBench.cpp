// Building an environment from decoded values: field, layouts, feature catalogue, marker ellipse,
// marker index and marker spacing, as createEnvironment does after decoding.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "environment/Environment.h"
#include "interface/InterfacedObject.h"

namespace {

using Lumetra::Vesk::Environment::IEnvironment;
using Lumetra::Vesk::Environment::HorizontalGrid::Bar;
using Lumetra::Vesk::Environment::HorizontalGrid::Environment;

// Random bars with random rotations on distinct cells of a width × height grid.
std::vector<Bar> randomBars(unsigned long width, unsigned long height, std::size_t count) {
    std::mt19937 random(20240607);
    std::uniform_int_distribution<unsigned long> column(0, width - 1), row(0, height - 1);
    std::uniform_int_distribution<int> rotation(0, 3);
    std::vector<bool> taken(width * height, false);
    std::vector<Bar> bars;
    while (bars.size() < count) {
        const unsigned long x = column(random), y = row(random);
        if (taken[y * width + x]) continue;
        taken[y * width + x] = true;
        bars.push_back(Bar{{static_cast<int>(x), static_cast<int>(y)}, static_cast<std::uint8_t>(rotation(random))});
    }
    return bars;
}

void createEnvironment(benchmark::State& state, unsigned long width, unsigned long height, std::size_t barCount) {
    const std::vector<Bar> bars = randomBars(width, height, barCount);
    // Geometry of the truss scheme.
    const float barLength = 1.275f, barProportion = 0.4f, barSlope = 0.0698131695f, cellSize = 0.6f;
    const LumetraMath::vector<float, 2> barOffset{0.0f, 0.0f};
    for (auto _ : state) {
        auto environment = Lumetra::InterfaceContract::createInterfaced<IEnvironment, Environment>(
            barLength, barProportion, barSlope, barOffset, cellSize, bars,
            LumetraMath::vector<unsigned long, 2>{width, height}, true, 2.5f);
        benchmark::DoNotOptimize(environment.get());
    }
    state.counters["bars"] = static_cast<double>(barCount);
}

void BM_CreateEnvironmentQuarterFull(benchmark::State& state) {
    const auto side = static_cast<unsigned long>(state.range(0));
    createEnvironment(state, side, side, side * side / 4);
}
BENCHMARK(BM_CreateEnvironmentQuarterFull)->Arg(10)->Arg(20)->Arg(40)->Arg(80)->Unit(benchmark::kMillisecond);

void BM_CreateEnvironmentSparse100k(benchmark::State& state) { createEnvironment(state, 4096, 4096, 100'000); }
BENCHMARK(BM_CreateEnvironmentSparse100k)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
