// A small accuracy table: 100 views per geometry at 0 and 0.05 degrees of noise, matched through
// the loaded library. Counters give the shares of views matched right (by the library and by the
// plain pipeline), the rays numbered wrong and the median position errors against the oracle's.

#include <benchmark/benchmark.h>

#include <cstddef>

#include "simulation/AccuracyEvaluation.h"

namespace {

using namespace Lumetra::Testing;

void accuracy(benchmark::State& state) {
    const MatchGeometry geometry = matchGeometries()[static_cast<std::size_t>(state.range(0))];
    const double noise = static_cast<double>(state.range(1)) * 1e-2 * 0.017453292519943295;
    AccuracySettings settings;
    settings.frames = 100;
    AccuracyRow row;
    for (auto _ : state) row = evaluateAccuracy(geometry, noise, settings);
    const double frames = static_cast<double>(row.frames);
    state.counters["success"] = static_cast<double>(row.correct) / frames;
    state.counters["plain"] = static_cast<double>(row.plainCorrect) / frames;
    state.counters["wrongRays"] = static_cast<double>(row.wrongRays);
    state.counters["errorP50"] = quantile(row.errors, 0.5);
    state.counters["oracleP50"] = quantile(row.oracleErrors, 0.5);
}

}  // namespace

// Arguments: geometry (0 long ceiling, 1 long floor, 2 short floor), noise in hundredths of a degree.
BENCHMARK(accuracy)
    ->Name("Accuracy/geometry/noise")
    ->ArgsProduct({{0, 1, 2}, {0, 5}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
