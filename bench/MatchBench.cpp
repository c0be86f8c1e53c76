// Matching through the loaded library, as a host calls it: match on views of about 4, 8, 16 and 24
// complete bars, and matchByPosition per ray. Counters report the share of views matched and the
// largest position error of a match.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <vector>

#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/LibraryHost.h"
#include "simulation/MatchScenarios.h"

namespace {

using namespace Lumetra::Testing;

constexpr double degree = 3.14159265358979323846 / 180.0;
constexpr int viewCount = 16;

/// A layout loaded through the library, with views showing about `bars` bars.
struct Scene {
    LibraryHost host;
    InterfacePtr<IEnvironment> environment;
    std::vector<View> views;

    Scene(const MatchGeometry& base, std::size_t bars, double maxTilt)
        : Scene(base, bars, maxTilt, [&base, bars](std::mt19937_64& rng) {
              // The layout is large enough for any of the views.
              return randomMatchLayout(base, 48, 48, rng);
          }) {}

    template <typename MakeLayout>
    Scene(const MatchGeometry& base, std::size_t bars, double maxTilt, MakeLayout&& makeLayout,
          double halfAngle = 70 * degree) {
        // Views of many bars need a higher tracker.
        MatchGeometry geometry = base;
        geometry.maxDistance = std::max(base.maxDistance, 1.0 + 0.25 * static_cast<double>(bars));
        std::mt19937_64 rng(1000 + bars);
        const auto layout = makeLayout(rng);
        environment = host.createEnvironment(LumetraTest::writeEnvironmentCode(layout));
        const std::vector<Point3> markers = getMarkers(*environment);
        const std::size_t low = bars > 4 ? bars - 1 : bars, high = bars + 1;
        while (views.size() < viewCount) {
            const FrameOptions options{.fieldOfViewHalfAngle = halfAngle};
            const std::optional<View> view = drawView(markers, geometry, layout, maxTilt, options, low, high, rng);
            if (!view) throw std::runtime_error("no view of the requested size");
            views.push_back(*view);
        }
    }
};

/// `count` short floor bars on random distinct cells of a side × side grid, in random rotations.
auto shortFloorLayout(int side, std::size_t count) {
    return [side, count](std::mt19937_64& rng) {
        auto layout = randomLayout(matchGeometries()[2].geometry, static_cast<std::uint32_t>(side),
                                   static_cast<std::uint32_t>(side), 1.0, 0, rng);
        layout.bars.resize(count);
        return layout;
    };
}

void reportMatches(benchmark::State& state, const Scene& scene) {
    std::size_t next = 0, rays = 0;
    for (auto _ : state) {
        const View& view = scene.views[next++ % viewCount];
        MatchOutcome outcome = match(*scene.environment, view.frame.rays);
        benchmark::DoNotOptimize(outcome);
        rays += view.frame.rays.size();
    }
    // Accuracy over the views, outside the timed loop.
    int matched = 0;
    double worst = 0;
    for (const View& view : scene.views) {
        const MatchOutcome outcome = match(*scene.environment, view.frame.rays);
        if (!outcome.matched) continue;
        ++matched;
        worst = std::max(worst, LumetraMath::length(LumetraMath::vectorCast<double>(outcome.pose.position) -
                                                    view.pose.position));
    }
    state.counters["matched"] = static_cast<double>(matched) / viewCount;
    state.counters["maxPositionError"] = worst;
    state.counters["rays"] = static_cast<double>(rays) / static_cast<double>(state.iterations());
}

void matchViews(benchmark::State& state, const MatchGeometry& geometry, double maxTilt) {
    reportMatches(state, Scene(geometry, static_cast<std::size_t>(state.range(0)), maxTilt));
}

void matchByPositionPerRay(benchmark::State& state, const MatchGeometry& geometry) {
    const Scene scene(geometry, static_cast<std::size_t>(state.range(0)), 15 * degree);
    std::size_t next = 0;
    std::int64_t rays = 0;
    for (auto _ : state) {
        const View& view = scene.views[next++ % viewCount];
        const Point3 position = LumetraMath::vectorCast<float>(view.pose.position);
        std::vector<MarkerIndex> found = matchByPosition(*scene.environment, view.frame.worldRays, position);
        benchmark::DoNotOptimize(found);
        rays += static_cast<std::int64_t>(view.frame.worldRays.size());
    }
    state.SetItemsProcessed(rays);
}

/// One call with 100,000 rays, every marker hit several times: collisions everywhere.
void matchByPositionManyRays(benchmark::State& state, const MatchGeometry& geometry) {
    LibraryHost host;
    std::mt19937_64 rng(7);
    const auto layout = randomMatchLayout(geometry, 48, 48, rng);
    const auto environment = host.createEnvironment(LumetraTest::writeEnvironmentCode(layout));
    const std::vector<Point3> markers = getMarkers(*environment);
    const Point3 position{0.0f, layout.height + 2.0f, 0.0f};
    std::vector<Point3> rays;
    for (std::size_t i = 0; rays.size() < static_cast<std::size_t>(state.range(0)); ++i)
        rays.push_back(markers[(i * 7919) % markers.size()] - position);
    for (auto _ : state) {
        std::vector<MarkerIndex> found = matchByPosition(*environment, rays, position);
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

const MatchGeometry& geometryAt(std::size_t i) {
    static const std::vector<MatchGeometry> geometries = matchGeometries();
    return geometries[i];
}

void levelLongCeiling(benchmark::State& state) { matchViews(state, geometryAt(0), 0.0); }
void levelLongFloor(benchmark::State& state) { matchViews(state, geometryAt(1), 0.0); }
void levelShortFloor(benchmark::State& state) { matchViews(state, geometryAt(2), 0.0); }
/// 320 short floor bars on 40 x 40 cells, level views.
void levelShortFloor40(benchmark::State& state) {
    const auto bars = static_cast<std::size_t>(state.range(0));
    reportMatches(state, Scene(geometryAt(2), bars, 0.0, shortFloorLayout(40, 320)));
}
/// Every cell of 16 x 16 holding a short floor bar: views of about 20 complete bars (some 69 rays) packed close,
/// through a narrower lens.
void denseShortFloor16(benchmark::State& state) {
    reportMatches(state, Scene(geometryAt(2), 20, 0.0, shortFloorLayout(16, 256), 40 * degree));
}
void tiltedLongFloor(benchmark::State& state) { matchViews(state, geometryAt(1), 15 * degree); }
void byPositionLongFloor(benchmark::State& state) { matchByPositionPerRay(state, geometryAt(1)); }
void byPositionShortFloor(benchmark::State& state) { matchByPositionPerRay(state, geometryAt(2)); }
void byPositionManyRays(benchmark::State& state) { matchByPositionManyRays(state, geometryAt(1)); }

}  // namespace

BENCHMARK(levelLongCeiling)->Name("Match/LongCeiling/Level/bars")->Arg(4)->Arg(8)->Arg(16)->Arg(24);
BENCHMARK(levelLongFloor)->Name("Match/LongFloor/Level/bars")->Arg(4)->Arg(8)->Arg(16)->Arg(24);
BENCHMARK(levelShortFloor)->Name("Match/ShortFloor/Level/bars")->Arg(4)->Arg(8)->Arg(16)->Arg(24);
BENCHMARK(levelShortFloor40)->Name("Match/ShortFloor40x40/Level/bars")->Arg(8)->Arg(16)->Arg(24);
BENCHMARK(denseShortFloor16)->Name("Match/ShortFloorDense16x16/Level/bars20");
BENCHMARK(tiltedLongFloor)->Name("Match/LongFloor/Tilt15/bars")->Arg(8)->Arg(16)->Arg(24);
BENCHMARK(byPositionLongFloor)->Name("MatchByPosition/LongFloor/bars")->Arg(8)->Arg(24);
BENCHMARK(byPositionShortFloor)->Name("MatchByPosition/ShortFloor/bars")->Arg(24);
BENCHMARK(byPositionManyRays)->Name("MatchByPosition/LongFloor/rays")->Arg(100000)->Unit(benchmark::kMillisecond);
