#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "math/Grid2DSearch.h"

namespace {

using Point = LumetraMath::vector<float, 2>;

constexpr float pitch = 0.6f;
constexpr int side = 317;  // about 100,000 markers

/// Markers on a square lattice of the given pitch, slightly jittered as measured positions are.
std::vector<Point> latticeMarkers() {
    std::mt19937 random(42);
    std::uniform_real_distribution<float> jitter(-0.01f, 0.01f);
    std::vector<Point> points;
    points.reserve(side * side);
    for (int x = 0; x < side; ++x)
        for (int y = 0; y < side; ++y)
            points.push_back({static_cast<float>(x) * pitch + jitter(random), static_cast<float>(y) * pitch + jitter(random)});
    return points;
}

void Grid2DSearchConstruction(benchmark::State& state) {
    const std::vector<Point> points = latticeMarkers();
    for (auto _ : state) {
        LumetraMath::Grid2DSearch<float> search(points, 1.5f);
        benchmark::DoNotOptimize(search);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(points.size()));
}
BENCHMARK(Grid2DSearchConstruction)->Unit(benchmark::kMillisecond);

void Grid2DSearchQuery(benchmark::State& state) {
    const LumetraMath::Grid2DSearch<float> search(latticeMarkers(), 1.5f);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> coordinate(0.f, pitch * (side - 1));
    std::vector<Point> centers(4096);
    for (auto& c : centers) c = {coordinate(random), coordinate(random)};
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(search.getPointsInCircle(centers[next], 0.3f));
        next = (next + 1) % centers.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(Grid2DSearchQuery);

}  // namespace
