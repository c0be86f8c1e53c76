// A few cells of the envelope (`evaluate --envelope`), real-camera profile, tilt up to 15 deg:
// the time of one match, identify and track call on the cell's frames (each with at least four
// complete bars; track predicted from the true pose), and a small run of the cell's figures:
//   identifiable  share of frames with a catalogued feature wholly in view
//   identify      share of the identifiable frames identified;  match  share of frames matched
//   track         share of the walk's frames given a pose
//   wrong         true marker rays numbered wrong (match + identify + track); strayFar  stray rays
//                 numbered beyond a quarter spacing;  nees  mean NEES of identify, 6 rays and more

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "simulation/Envelope.h"
#include "simulation/TrackingScenarios.h"

namespace {

using namespace Lumetra::Testing;

enum class Call { match, identify, track };

EnvelopeCell cell(std::size_t geometry, double fieldOfView, double minDistance, double maxDistance) {
    return {fieldOfView, minDistance, maxDistance, 15, geometry, false, RayProfile::camera};
}

Pose truePose(const TrackerPose& truth) {
    const auto q = truth.rotation();
    return {LumetraMath::vectorCast<float>(truth.position),
            {static_cast<float>(q.x), static_cast<float>(q.y), static_cast<float>(q.z), static_cast<float>(q.w)}};
}

void timeCalls(benchmark::State& state, const EnvelopeCell& c, Call call) {
    const LibraryHost host;
    const MatchGeometry geometry = envelopeGeometry(c);
    const TrackingScene scene(host, geometry, 20, 1000 + 2 * c.geometry);
    std::mt19937_64 rng(5);
    std::vector<View> views;
    while (views.size() < 200) {
        auto view = drawView(scene.markers, geometry, scene.layout, c.maxTiltDegrees * 0.017453292519943295,
                             envelopeFrameOptions(c, scene.layout.ceiling), 4, 100000, rng);
        if (!view) break;
        views.push_back(std::move(*view));
    }
    if (views.empty()) return state.SkipWithError("no frame shows four complete bars");
    std::size_t next = 0, rays = 0;
    for (auto _ : state) {
        const View& view = views[next++ % views.size()];
        rays += view.frame.rays.size();
        switch (call) {
            case Call::match: benchmark::DoNotOptimize(match(*scene.environment, view.frame.rays)); break;
            case Call::identify: benchmark::DoNotOptimize(identify(*scene.tracking, view.frame.rays)); break;
            case Call::track:
                benchmark::DoNotOptimize(track(*scene.tracking, view.frame.rays, truePose(view.pose)));
                break;
        }
    }
    state.counters["rays"] = static_cast<double>(rays) / static_cast<double>(state.iterations());
}

double share(std::size_t part, std::size_t whole) { return whole ? static_cast<double>(part) / static_cast<double>(whole) : 0.0; }

void figures(benchmark::State& state, const EnvelopeCell& c) {
    EnvelopeSettings settings;
    settings.frames = 100;
    settings.walkSeconds = 2;
    settings.threads = 1;
    std::vector<EnvelopeResult> results;
    for (auto _ : state) results = evaluateEnvelope({c}, settings);
    const EnvelopeResult& r = results.front();
    state.counters["identifiable"] = share(r.identifiable, r.frames);
    state.counters["identify"] = share(r.identify.foundIdentifiable, r.identifiable);
    state.counters["match"] = share(r.match.found, r.frames);
    state.counters["track"] = share(r.track.found, r.walkFrames);
    state.counters["wrong"] = static_cast<double>(r.match.wrongRays + r.identify.wrongRays + r.track.wrongRays);
    state.counters["strayFar"] = static_cast<double>(r.match.strayFar + r.identify.strayFar + r.track.strayFar);
    NeesTally nees;
    for (std::size_t b = 1; b < r.identify.nees.size(); ++b) nees.count += r.identify.nees[b].count, nees.sum += r.identify.nees[b].sum;
    if (nees.count > 0) state.counters["nees"] = nees.sum / static_cast<double>(nees.count);
}

void registerAll() {
    const char* names[] = {"LongCeiling", "LongFloor", "ShortFloor"};
    const struct {
        double fieldOfView, minDistance, maxDistance;
    } bands[] = {{115, 1.2, 2.0}, {150, 0.6, 1.0}, {180, 1.2, 2.0}};
    for (std::size_t g = 0; g < 3; ++g)
        for (const auto& band : bands) {
            const EnvelopeCell c = cell(g, band.fieldOfView, band.minDistance, band.maxDistance);
            const std::string suffix = std::string("/") + names[g] + "/fov" + std::to_string(static_cast<int>(band.fieldOfView)) +
                                       "/" + std::to_string(band.minDistance).substr(0, 3) + "-" +
                                       std::to_string(band.maxDistance).substr(0, 3) + "m";
            const std::pair<const char*, Call> calls[] = {{"match", Call::match}, {"identify", Call::identify}, {"track", Call::track}};
            for (const auto& [name, call] : calls)
                benchmark::RegisterBenchmark((std::string("Envelope/") + name + suffix).c_str(),
                                             [c, call = call](benchmark::State& s) { timeCalls(s, c, call); })
                    ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("Envelope/figures" + suffix).c_str(), [c](benchmark::State& s) { figures(s, c); })
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
        }
}

const bool registered = (registerAll(), true);

}  // namespace
