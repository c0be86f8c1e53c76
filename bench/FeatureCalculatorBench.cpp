// The feature catalogue: an environment's whole catalogue (all group sizes) on random layouts,
// the per-frame catalogue of a few observed bars (largest groups only), and the neighbourhood
// inspection of one candidate bar.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "catalogue/FeatureCalculator.h"
#include "catalogue/WindowGroupScan.h"

namespace {

using namespace Lumetra::Vesk::Environment::HorizontalGrid;

/// Each cell of a side × side grid holds a bar with probability density%, in a random rotation.
std::vector<Bar> randomLayout(int side, int densityPercent, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> percent(0, 99), rotation(0, 3);
    std::vector<Bar> bars;
    for (int x = 0; x < side; ++x)
        for (int y = 0; y < side; ++y)
            if (percent(random) < densityPercent) bars.push_back(Bar{{x, y}, static_cast<std::uint8_t>(rotation(random))});
    return bars;
}

/// `count` bars on distinct cells of the smallest square holding them at half density, moved far
/// from the origin as observed bars are.
std::vector<Bar> observedBars(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    int side = 1;
    while (static_cast<std::size_t>(side * side) < 2 * count) ++side;
    std::vector<Bar> bars = randomLayout(side, 100, seed);
    std::shuffle(bars.begin(), bars.end(), random);
    bars.resize(count);
    for (Bar& bar : bars) bar._position = {bar._position.x - 731, bar._position.y + 4096};
    return bars;
}

/// The flat catalogue, as the environment and matching build it.
void catalogueOfLayout(benchmark::State& state, std::vector<Bar> bars, bool largestOnly) {
    std::size_t entries = 0;
    for (auto _ : state) {
        const FlatFeatureMap features = FeatureCalculator::getFlatCombinationsForBarsOnGrid(bars, largestOnly);
        entries = features.size();
        benchmark::DoNotOptimize(entries);
    }
    state.counters["bars"] = static_cast<double>(bars.size());
    state.counters["keys"] = static_cast<double>(entries);
}

/// The catalogue's cost against the number of groups it examines, the measure its work limit counts:
/// a side × side grid at density%, with counters for the groups and the groups per second.
void BM_CatalogueWork(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    const std::vector<Bar> bars = randomLayout(side, static_cast<int>(state.range(1)), 8);
    for (auto _ : state) benchmark::DoNotOptimize(FeatureCalculator::getFlatCombinationsForBarsOnGrid(bars, false).size());
    const Field field(bars, {static_cast<unsigned long>(side), static_cast<unsigned long>(side)});
    OfferedGroupBudget budget(OfferedGroupBudget::unlimited);
    double groups = 0;
    forEachWindowGroup(field, Field::BarsWithinAreaSearch(field), false, budget,
                       [&groups](std::span<const Bar>, std::span<const std::size_t>) { ++groups; });
    state.counters["groups"] = groups;
    state.counters["groupsPerSecond"] = benchmark::Counter(groups * static_cast<double>(state.iterations()),
                                                           benchmark::Counter::kIsRate);
}

void BM_Catalogue_20x20_30percent(benchmark::State& state) { catalogueOfLayout(state, randomLayout(20, 30, 1), false); }
void BM_Catalogue_80x80_25percent(benchmark::State& state) { catalogueOfLayout(state, randomLayout(80, 25, 2), false); }
void BM_Catalogue_Dense8x8(benchmark::State& state) { catalogueOfLayout(state, randomLayout(8, 100, 3), false); }
void BM_Catalogue_Dense16x16(benchmark::State& state) { catalogueOfLayout(state, randomLayout(16, 100, 4), false); }
/// The same catalogue converted to an ordered map of lists, as tests and tools read it.
void BM_CatalogueAsMap_20x20_30percent(benchmark::State& state) {
    const std::vector<Bar> bars = randomLayout(20, 30, 1);
    for (auto _ : state) {
        const FeatureMap features = FeatureCalculator::getCombinationsForBarsOnGrid(bars, false);
        benchmark::DoNotOptimize(features.size());
    }
}
void BM_ObservedCatalogue(benchmark::State& state) {
    catalogueOfLayout(state, observedBars(static_cast<std::size_t>(state.range(0)), 5), true);
}

void BM_PotentialFeatures_20x20_30percent(benchmark::State& state) {
    const std::vector<Bar> bars = randomLayout(20, 30, 6);
    const Field field(bars, {20, 20});
    const FeatureCalculator calculator(field, false);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> cell(0, 19), rotation(0, 3);
    for (auto _ : state) {
        FeatureSet newFeatures, matchedFeatures;
        calculator.getPotentialFeatures(Bar{{cell(random), cell(random)}, static_cast<std::uint8_t>(rotation(random))},
                                        newFeatures, matchedFeatures);
        benchmark::DoNotOptimize(newFeatures.size());
    }
}

BENCHMARK(BM_Catalogue_20x20_30percent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Catalogue_80x80_25percent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CatalogueAsMap_20x20_30percent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Catalogue_Dense8x8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Catalogue_Dense16x16)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CatalogueWork)
    ->Args({16, 100})->Args({19, 100})->Args({24, 100})->Args({30, 100})->Args({36, 100})
    ->Args({80, 25})->Args({200, 25})->Args({400, 10})
    ->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_ObservedCatalogue)->Arg(8)->Arg(16)->Arg(32)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PotentialFeatures_20x20_30percent)->Unit(benchmark::kMillisecond);

}  // namespace
