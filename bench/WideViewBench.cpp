// identify and match on wide views: full fields of view of 115, 150 and 180 degrees, trackers 0.6-1.0,
// 1.2-2.0 and 2.0-3.0 m from the marker plane, on exact rays and on the real-camera profile (0.05 deg
// noise, 5 % of marker rays dropped, 2 stray rays), tilt up to 15 deg. Layouts of 20 x 20 cells of
// 0.6 m (10 % of cells with a bar for the long geometries, 20 % for the short floor); every view shows
// at least four complete bars. Each benchmark runs its frames once; the figures are its counters:
//   identifiable  share of views in which a catalogued feature is wholly in view
//   identify, match  share of the identifiable views found with every marker ray numbered right
//   idWrong, matchWrong  marker rays numbered with another marker, over all views
//   idP50, idP99, matchP50  processor time per frame, microseconds (in process)
//   rays  largest frame
// LUMETRA_WIDE_FRAMES sets the views per cell (default 60).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "simulation/MatchScenarios.h"
#include "simulation/TrackingScenarios.h"

namespace {

using namespace Lumetra::Testing;
using Lumetra::Vesk::Environment::HorizontalGrid::Environment;
using Lumetra::Vesk::Environment::MarkerIndex;

constexpr double degree = 3.14159265358979323846 / 180.0;
constexpr int layouts = 4;
constexpr double distanceBands[3][2] = {{0.6, 1.0}, {1.2, 2.0}, {2.0, 3.0}};

std::size_t viewsPerLayout() {
    const char* frames = std::getenv("LUMETRA_WIDE_FRAMES");
    const long requested = frames != nullptr ? std::atol(frames) : 0;
    return requested > 0 ? static_cast<std::size_t>(requested + layouts - 1) / layouts : 15;
}

/// Whether some catalogued feature has every bar complete in the frame.
bool identifiable(const Environment& environment, const Frame& frame) {
    std::vector<int> seen(environment.getField().bars().size() * 3, 0);
    for (const std::uint32_t marker : frame.markerNumbers)
        if (marker < seen.size()) seen[marker] = 1;
    const auto complete = [&](unsigned long bar) { return seen[3 * bar] && seen[3 * bar + 1] && seen[3 * bar + 2]; };
    for (const auto& [key, bars] : environment.getCombinations())
        if (std::all_of(bars.begin(), bars.end(), complete)) return true;
    return false;
}

/// Frames whose every marker ray is numbered right; adds the wrong ones to `wrong`.
bool numberedRight(const Frame& frame, const std::vector<MarkerIndex>& numbers, int& wrong) {
    int here = 0;
    for (std::size_t i = 0; i < frame.rays.size(); ++i)
        if (frame.markerNumbers[i] != spuriousMarker && numbers[i] < 0xFFFFFFF0u &&
            numbers[i] != frame.markerNumbers[i])
            ++here;
    wrong += here;
    return here == 0;
}

/// This thread's processor time in microseconds: the two cores are shared, so wall time would
/// count other processes' turns.
double threadMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return 1e6 * static_cast<double>(now.tv_sec) + 1e-3 * static_cast<double>(now.tv_nsec);
}

void wideViews(benchmark::State& state) {
    const std::size_t geometryIndex = static_cast<std::size_t>(state.range(0));
    const double fieldOfView = static_cast<double>(state.range(1)) * degree;
    const auto& band = distanceBands[state.range(2)];
    const bool realCamera = state.range(3) != 0;

    MatchGeometry geometry = matchGeometries()[geometryIndex];
    geometry.minDistance = band[0];
    geometry.maxDistance = band[1];
    if (geometry.name == "ShortFloor") geometry.fill = 0.2;
    FrameOptions options;
    options.fieldOfViewHalfAngle = fieldOfView / 2;
    if (realCamera) {
        options.angularNoise = 0.05 * degree;
        options.dropProbability = 0.05;
        options.spuriousRays = 2;
    }

    int views = 0, identifiableViews = 0, identified = 0, matched = 0, idWrong = 0, matchWrong = 0;
    std::size_t largest = 0;
    std::vector<double> identifyTimes, matchTimes;
    for (auto _ : state)
        for (int l = 0; l < layouts; ++l) {
            std::mt19937_64 rng(1000 + static_cast<std::uint64_t>(l));
            const auto layout = randomMatchLayout(geometry, 20, 20, rng);
            const auto environment = makeEnvironment(layout);
            const std::vector<Point3> markers = environment->getMarkers();
            for (std::size_t v = 0; v < viewsPerLayout(); ++v) {
                const auto view = drawView(markers, geometry, layout, 15 * degree, options, 4, 100000, rng);
                if (!view) break;
                ++views;
                largest = std::max(largest, view->frame.rays.size());
                const bool canIdentify = identifiable(*environment, view->frame);
                identifiableViews += canIdentify;

                double start = threadMicroseconds();
                const auto outcome = environment->identify(view->frame.rays);
                identifyTimes.push_back(threadMicroseconds() - start);
                if (outcome.found && numberedRight(view->frame, outcome.estimate.markerIndices, idWrong))
                    identified += canIdentify;

                std::vector<MarkerIndex> numbers;
                LumetraMath::poseP3Q<float> pose;
                start = threadMicroseconds();
                const bool found = environment->match(view->frame.rays, numbers, pose);
                matchTimes.push_back(threadMicroseconds() - start);
                if (found && numberedRight(view->frame, numbers, matchWrong)) matched += canIdentify;
            }
        }
    const auto share = [](int part, int whole) { return whole ? static_cast<double>(part) / whole : 0.0; };
    state.counters["views"] = views;
    state.counters["identifiable"] = share(identifiableViews, views);
    state.counters["identify"] = share(identified, identifiableViews);
    state.counters["match"] = share(matched, identifiableViews);
    state.counters["idWrong"] = idWrong;
    state.counters["matchWrong"] = matchWrong;
    state.counters["idP50"] = quantile(identifyTimes, 0.5);
    state.counters["idP99"] = quantile(identifyTimes, 0.99);
    state.counters["matchP50"] = quantile(matchTimes, 0.5);
    state.counters["rays"] = static_cast<double>(largest);
}

}  // namespace

// Arguments: geometry (0 long ceiling, 1 long floor, 2 short floor), full field of view in degrees,
// distance band (0: 0.6-1.0 m, 1: 1.2-2.0 m, 2: 2.0-3.0 m), camera (0 exact rays, 1 real-camera profile).
BENCHMARK(wideViews)
    ->Name("WideViews/geometry/fov/distance/camera")
    ->ArgsProduct({{0, 1, 2}, {115, 150, 180}, {0, 1, 2}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
