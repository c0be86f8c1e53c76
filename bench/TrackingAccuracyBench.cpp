// What identify, match and track make of frames of the real-camera profile (0.05 deg noise per
// ray, 5 % of marker rays dropped, 2 stray rays, tilt up to 15 deg, field of view 65-115 deg) on
// the three geometries, beside the oracle (the least-squares pose from the true numbers, started
// at the truth). Each benchmark runs its frames once; the figures are its counters:
//   success   share of frames (each with at least four complete bars) given a pose
//   wrong     true marker rays numbered with another marker
//   strayFar  stray rays numbered although they pass farther than a quarter spacing from the marker
//   p50, p95  position error of the frames found; oracleP50, oracleP95 the oracle's on the same frames
//   nees      mean normalised estimation error squared of the reported covariance (6 is honest)
// LUMETRA_ACCURACY_FRAMES sets the frames per row (default 400).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "simulation/TrackingScenarios.h"

namespace {

using namespace Lumetra::Testing;

constexpr double degree = 3.14159265358979323846 / 180.0;
constexpr int layouts = 10;

/// Frames per row: 400 by default, LUMETRA_ACCURACY_FRAMES for the full table (2000).
std::size_t viewsPerLayout() {
    const char* frames = std::getenv("LUMETRA_ACCURACY_FRAMES");
    const long requested = frames != nullptr ? std::atol(frames) : 0;
    return requested > 0 ? static_cast<std::size_t>(requested) / layouts : 40;
}

void report(benchmark::State& state, const TrackingFigures& figures) {
    state.counters["frames"] = figures.frames;
    state.counters["success"] = figures.successRate();
    state.counters["wrong"] = figures.wrongNumbers;
    state.counters["strayFar"] = figures.strayNumberedFar;
    state.counters["p50"] = quantile(figures.positionErrors, 0.5);
    state.counters["p95"] = quantile(figures.positionErrors, 0.95);
    state.counters["oracleP50"] = quantile(figures.oraclePositionErrors, 0.5);
    state.counters["oracleP95"] = quantile(figures.oraclePositionErrors, 0.95);
    if (figures.neesCount > 0) state.counters["nees"] = figures.meanNees();
    if (figures.fellBack > 0) state.counters["fellBack"] = figures.fellBack;
}

void frames(benchmark::State& state, std::size_t geometryIndex, PoseMethod method, double noiseDegrees) {
    const LibraryHost host;
    const MatchGeometry geometry = matchGeometries()[geometryIndex];
    CameraProfile camera;
    camera.noise = noiseDegrees * degree;
    TrackingFigures figures;
    for (auto _ : state)
        for (int l = 0; l < layouts; ++l) {
            const TrackingScene scene(host, geometry, 20, 100 + static_cast<std::uint64_t>(l));
            std::mt19937_64 rng(7 + static_cast<std::uint64_t>(l));
            evaluateViews(scene, cameraViews(scene, camera, viewsPerLayout(), rng), method, figures);
        }
    report(state, figures);
}

/// Ten seconds of a walk at 120 Hz, each frame tracked from the pose of the one before.
void walkTracked(benchmark::State& state, std::size_t geometryIndex) {
    const LibraryHost host;
    const MatchGeometry geometry = matchGeometries()[geometryIndex];
    TrackingFigures figures;
    for (auto _ : state)
        for (std::uint64_t w = 0; w < 3; ++w) {
            const TrackingScene scene(host, geometry, 20, 200 + w);
            evaluateWalk(scene, walk(scene, 10.0, 120.0, 300 + w), CameraProfile{}, figures);
        }
    report(state, figures);
}

void registerAll() {
    const char* names[] = {"LongCeiling", "LongFloor", "ShortFloor"};
    for (std::size_t g = 0; g < 3; ++g) {
        const std::string suffix = std::string("/") + names[g];
        const auto add = [&](const std::string& name, auto function) {
            benchmark::RegisterBenchmark(("TrackingAccuracy/" + name + suffix).c_str(), function)
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
        };
        add("match", [g](benchmark::State& s) { frames(s, g, PoseMethod::match, 0.05); });
        add("identify", [g](benchmark::State& s) { frames(s, g, PoseMethod::identify, 0.05); });
        add("oracle", [g](benchmark::State& s) { frames(s, g, PoseMethod::oracle, 0.05); });
        add("identifyNoise0.1", [g](benchmark::State& s) { frames(s, g, PoseMethod::identify, 0.1); });
        add("trackWalk", [g](benchmark::State& s) { walkTracked(s, g); });
    }
}

const bool registered = (registerAll(), true);

}  // namespace
