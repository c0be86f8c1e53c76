// What a library's acceptance rules let through, on frames beyond the accuracy table's band:
// wrong numbers and stray rays numbered far from their marker (identify, track from a prediction
// 0.15 m / 10 deg off, match), the NEES of identify's covariance by the rays the pose rests on,
// refinePose from far starts (reported poses that are not stationary), and frames with every ray
// given twice or one ray pointing away from the markers.
// Usage: lumetra_acceptance_measure LIBRARY [VIEWS_PER_CELL]

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "simulation/PoseOracle.h"
#include "simulation/TrackingScenarios.h"

namespace {

using namespace Lumetra::Testing;

constexpr double degree = 3.14159265358979323846 / 180.0;

/// The NEES of a reported pose and covariance against the truth; negative when the covariance is not
/// positive definite.
double nees(const PoseOutcome& outcome, const TrackerPose& truth) {
    const auto& q = outcome.pose.rotation;
    const PoseVector error = poseError(LumetraMath::vectorCast<double>(outcome.pose.position), {q.x, q.y, q.z, q.w},
                                       truth.position, truth.rotation());
    return normalisedError(unpackCovariance(outcome.report.covariance), error).value_or(-1);
}

Pose toPose(const TrackerPose& truth) {
    const auto q = truth.rotation();
    return {LumetraMath::vectorCast<float>(truth.position),
            {static_cast<float>(q.x), static_cast<float>(q.y), static_cast<float>(q.z), static_cast<float>(q.w)}};
}

/// NEES by the rays a pose rests on: sum, count and how many exceed the chi-squared 95 % point.
struct NeesBucket {
    double sum = 0;
    int count = 0, above = 0;
};
int bucketOf(std::uint32_t rays) { return rays < 6 ? 3 : rays < 12 ? 6 : rays < 24 ? 12 : 24; }

/// Up to `count` views through the camera; fewer where the cell rarely shows four complete bars.
std::vector<View> viewsOf(const TrackingScene& scene, const CameraProfile& camera, std::size_t count,
                          std::mt19937_64& rng) {
    std::vector<View> views;
    for (std::size_t misses = 0; views.size() < count && misses < 3;) {
        FrameOptions options{.fieldOfViewHalfAngle = camera.maxFieldOfView / 2,
                             .angularNoise = camera.noise,
                             .dropProbability = camera.dropProbability,
                             .spuriousRays = camera.strayRays};
        if (auto view = drawView(scene.markers, scene.geometry, scene.layout, camera.maxTilt, options, 4, 100000, rng, 200))
            views.push_back(std::move(*view));
        else
            ++misses;
    }
    return views;
}

Pose offBy(const Pose& pose, std::mt19937_64& rng, float distance, float angle) {
    std::normal_distribution<float> n(0.0f, 1.0f);
    Vector3 d{n(rng), n(rng), n(rng)}, axis{n(rng), n(rng), n(rng)};
    Pose p = pose;
    p.position += d / LumetraMath::length(d) * distance;
    p.rotation = LumetraMath::quaternionFromAxisAngle(axis / LumetraMath::length(axis), angle) * p.rotation;
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s LIBRARY [VIEWS_PER_CELL]\n", argv[0]);
        return 2;
    }
    const LibraryHost host(argv[1]);
    const std::size_t views = argc > 2 ? static_cast<std::size_t>(std::atol(argv[2])) : 200;
    std::map<int, NeesBucket> neesByRays, refineNees;
    int refineTrue = 0, refineMoving = 0, refineStarts = 0;
    std::printf("%-12s %4s %-8s | %-21s | %-21s | %-21s\n", "geometry", "fov", "distance", "identify ok/wrong/far",
                "track(off) ok/wrong/far", "match ok/wrong/far");
    for (const MatchGeometry& base : matchGeometries())
        for (const double fov : {65.0, 115.0, 150.0})
            for (const auto& band : {std::pair{0.6, 1.0}, std::pair{1.2, 2.0}, std::pair{2.0, 3.0}}) {
                MatchGeometry geometry = base;
                geometry.minDistance = band.first;
                geometry.maxDistance = band.second;
                const TrackingScene scene(host, geometry, 20, 100);
                std::mt19937_64 rng(7);
                CameraProfile camera;
                camera.minFieldOfView = camera.maxFieldOfView = fov * degree;
                TrackingFigures identified, tracked, matched;
                for (const View& view : viewsOf(scene, camera, views, rng)) {
                    const PoseOutcome a = identify(*scene.tracking, view.frame.rays);
                    scoreOutcome(scene, view, a.found, a.markerIndices, a.pose, nullptr, identified);
                    if (a.found) {
                        const double value = nees(a, view.pose);
                        NeesBucket& b = neesByRays[bucketOf(a.report.supportingRays)];
                        b.sum += value < 0 ? 1e30 : value;
                        ++b.count;
                        b.above += !(value >= 0 && value <= 12.59);
                    }
                    const PoseOutcome t = track(*scene.tracking, view.frame.rays, offBy(toPose(view.pose), rng, 0.15f, 10 * static_cast<float>(degree)));
                    scoreOutcome(scene, view, t.found, t.markerIndices, t.pose, nullptr, tracked);
                    const MatchOutcome m = match(*scene.environment, view.frame.rays);
                    scoreOutcome(scene, view, m.matched, m.markerIndices, m.pose, nullptr, matched);

                    // refinePose on the first k true marker rays alone, from the truth: NEES by k.
                    for (const std::size_t k : {3u, 4u, 5u, 6u, 9u}) {
                        std::vector<MarkerIndex> few(view.frame.markerNumbers.size(), 0xFFFFFFFE);
                        std::size_t taken = 0;
                        for (std::size_t i = 0; i < few.size() && taken < k; ++i)
                            if (view.frame.markerNumbers[i] != spuriousMarker) few[i] = view.frame.markerNumbers[i], ++taken;
                        const PoseOutcome fit = refinePose(*scene.tracking, view.frame.rays, few, toPose(view.pose));
                        if (!fit.found || taken < k) continue;
                        const double value = nees(fit, view.pose);
                        NeesBucket& b = refineNees[static_cast<int>(k)];
                        b.sum += value < 0 ? 1e30 : value;
                        ++b.count;
                        b.above += !(value >= 0 && value <= 12.59);
                    }
                    // refinePose with the true numbers from a start 1-5 m and up to 60 deg off.
                    std::vector<MarkerIndex> numbers(view.frame.markerNumbers.size(), 0xFFFFFFFE);
                    for (std::size_t i = 0; i < numbers.size(); ++i)
                        if (view.frame.markerNumbers[i] != spuriousMarker) numbers[i] = view.frame.markerNumbers[i];
                    std::uniform_real_distribution<float> far(1.0f, 5.0f), turn(0.0f, 60 * static_cast<float>(degree));
                    const PoseOutcome r = refinePose(*scene.tracking, view.frame.rays, numbers, offBy(toPose(view.pose), rng, far(rng), turn(rng)));
                    ++refineStarts;
                    if (r.found) {
                        ++refineTrue;
                        const PoseOutcome again = refinePose(*scene.tracking, view.frame.rays, numbers, r.pose);
                        if (!again.found || LumetraMath::length(again.pose.position - r.pose.position) > 1e-3f) ++refineMoving;
                    }
                }
                if (identified.frames == 0) continue;
                const auto cell = [](const TrackingFigures& f) {
                    char text[64];
                    std::snprintf(text, sizeof text, "%4d %5.1f%% %3d %3d", f.frames, 100 * f.successRate(), f.wrongNumbers, f.strayNumberedFar);
                    return std::string(text);
                };
                std::printf("%-12s %4.0f %3.1f-%3.1f  | %-21s | %-21s | %-21s\n", geometry.name.c_str(), fov, band.first,
                            band.second, cell(identified).c_str(), cell(tracked).c_str(), cell(matched).c_str());
                std::fflush(stdout);
            }
    std::printf("\nidentify NEES by supporting rays (mean, share above the chi-squared 95 %% point 12.59):\n");
    for (const auto& [rays, b] : neesByRays)
        std::printf("  %2d+ rays: %6d poses, mean %.3g, above %.1f%%\n", rays, b.count, b.sum / b.count, 100.0 * b.above / b.count);
    std::printf("refinePose on k true rays from the truth, NEES (mean, share above 12.59):\n");
    for (const auto& [rays, b] : refineNees)
        std::printf("  %2d rays: %6d poses, mean %.3g, above %.1f%%\n", rays, b.count, b.sum / b.count, 100.0 * b.above / b.count);
    std::printf("refinePose from far starts: %d of %d True, %d of them not stationary\n", refineTrue, refineStarts, refineMoving);

    // Every ray given twice; one ray turned away from the markers.
    const TrackingScene scene(host, matchGeometries()[1], 20, 100);
    std::mt19937_64 rng(9);
    int twiceIdentify = 0, twiceTrack = 0, twiceMatch = 0, awayMatch = 0, awayIdentify = 0, total = 0;
    for (const View& view : cameraViews(scene, CameraProfile{}, views, rng)) {
        ++total;
        std::vector<Vector3> twice = view.frame.rays;
        twice.insert(twice.end(), view.frame.rays.begin(), view.frame.rays.end());
        twiceIdentify += identify(*scene.tracking, twice).found;
        twiceTrack += track(*scene.tracking, twice, toPose(view.pose)).found;
        twiceMatch += match(*scene.environment, twice).matched;
        std::vector<Vector3> away = view.frame.rays;
        away.push_back(-away.front());
        awayMatch += match(*scene.environment, away).matched;
        awayIdentify += identify(*scene.tracking, away).found;
    }
    std::printf("long floor, every ray twice: identify %d, track %d, match %d of %d; one ray reversed: match %d, identify %d\n",
                twiceIdentify, twiceTrack, twiceMatch, total, awayMatch, awayIdentify);
    return 0;
}
