// Designing a layout for a room (the search of generate --room) on two threads, and the coverage
// of the result by identify, with the tool's default poses: floor rooms with the tracker 1.2-2.0 m
// above the markers.

#include <benchmark/benchmark.h>

#include "simulation/LayoutDesign.h"
#include "simulation/MatchScenarios.h"
#include "simulation/RoomCoverage.h"

namespace {

using namespace Lumetra::Testing;

DesignRequest floorRoom(double width, double depth) {
    DesignRequest request;
    request.geometry = matchGeometries()[1].geometry;  // long floor bars
    request.roomWidth = width;
    request.roomDepth = depth;
    request.threads = 2;
    request.coverage.threads = 2;
    return request;
}

void designRoom(benchmark::State& state, double width, double depth) {
    const DesignRequest request = floorRoom(width, depth);
    DesignResult result;
    for (auto _ : state) result = designLayout(request);
    const CoreLocator locator(result.layout);
    state.counters["bars"] = static_cast<double>(result.layout.bars.size());
    state.counters["covered"] = estimateCoverage(result.layout, locator, request.coverage).coveredFraction();
}

BENCHMARK_CAPTURE(designRoom, floor_9x6, 9.0, 6.0)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(designRoom, floor_20x15, 20.0, 15.0)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace
