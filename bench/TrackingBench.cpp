// Times of the tracking face through the loaded library, as a host calls it:
//  - identify beside match on the same exact tilted views of about 8, 16 and 24 complete bars;
//  - track along a walk at 120 Hz (1.5 m/s, up to 180 deg/s of yaw, +-10 deg of sway) on frames of
//    the real-camera profile, each frame predicted at constant velocity from the two before;
//    `medianUs` is the median time of one frame, `rays` the mean rays per frame;
//  - refinePose over the 24 true numbers of a noisy frame, started from a pose 5 cm and 3 deg off.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/TrackingScenarios.h"

namespace {

using namespace Lumetra::Testing;

constexpr double degree = 3.14159265358979323846 / 180.0;
constexpr std::size_t viewCount = 16;

Pose toPose(const TrackerPose& truth) {
    const auto q = truth.rotation();
    return {LumetraMath::vectorCast<float>(truth.position),
            {static_cast<float>(q.x), static_cast<float>(q.y), static_cast<float>(q.z), static_cast<float>(q.w)}};
}

/// Exact tilted views of the long floor showing about `bars` complete bars.
struct ExactViews {
    LibraryHost host;
    InterfacePtr<IEnvironment> environment;
    InterfacePtr<ITrackingEnvironment> tracking;
    std::vector<View> views;

    explicit ExactViews(std::size_t bars) {
        MatchGeometry geometry = matchGeometries()[1];
        geometry.maxDistance = std::max(geometry.maxDistance, 1.0 + 0.25 * static_cast<double>(bars));
        std::mt19937_64 rng(2000 + bars);
        const auto layout = randomMatchLayout(geometry, 48, 48, rng);
        environment = host.createEnvironment(LumetraTest::writeEnvironmentCode(layout));
        tracking = trackingFace(*environment);
        const std::vector<Point3> markers = getMarkers(*environment);
        while (views.size() < viewCount) {
            const auto view = drawView(markers, geometry, layout, 15 * degree,
                                       FrameOptions{.fieldOfViewHalfAngle = 70 * degree}, bars - 1, bars + 1, rng);
            if (!view) throw std::runtime_error("no view of the requested size");
            views.push_back(*view);
        }
    }
};

void identifyExact(benchmark::State& state) {
    const ExactViews scene(static_cast<std::size_t>(state.range(0)));
    std::size_t next = 0, found = 0;
    for (auto _ : state) {
        PoseOutcome outcome = identify(*scene.tracking, scene.views[next++ % viewCount].frame.rays);
        found += outcome.found;
        benchmark::DoNotOptimize(outcome);
    }
    state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}

void matchExact(benchmark::State& state) {
    const ExactViews scene(static_cast<std::size_t>(state.range(0)));
    std::size_t next = 0, found = 0;
    for (auto _ : state) {
        MatchOutcome outcome = match(*scene.environment, scene.views[next++ % viewCount].frame.rays);
        found += outcome.matched;
        benchmark::DoNotOptimize(outcome);
    }
    state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}

/// The frames of a walk over the long floor and the prediction of each from the poses tracked before.
struct TrackedWalk {
    LibraryHost host;
    std::unique_ptr<TrackingScene> scene;
    std::vector<std::vector<Vector3>> frames;
    std::vector<Pose> predictions;

    TrackedWalk() : scene(std::make_unique<TrackingScene>(host, matchGeometries()[1], 24, 61)) {
        const CameraProfile camera;
        std::mt19937_64 rng(63);
        std::vector<Pose> tracked;
        for (const TrackerPose& truth : walk(*scene, 10.0, 120.0, 65)) {
            FrameOptions options{.fieldOfViewHalfAngle = camera.maxFieldOfView / 2,
                                 .angularNoise = camera.noise,
                                 .dropProbability = camera.dropProbability,
                                 .spuriousRays = camera.strayRays,
                                 .seed = rng()};
            frames.push_back(generateFrame(scene->markers, truth, options).rays);
            Pose predicted = tracked.empty() ? toPose(truth) : tracked.back();
            if (tracked.size() >= 2) {
                const Pose& a = tracked[tracked.size() - 2];
                const Pose& b = tracked.back();
                predicted.position += b.position - a.position;
                auto q = b.rotation * LumetraMath::conjugate(a.rotation) * b.rotation;
                const float norm = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
                predicted.rotation = {q.x / norm, q.y / norm, q.z / norm, q.w / norm};
            }
            predictions.push_back(predicted);
            const PoseOutcome outcome = track(*scene->tracking, frames.back(), predicted);
            tracked.push_back(outcome.found ? outcome.pose : toPose(truth));
        }
    }
};

void trackWalk(benchmark::State& state) {
    const TrackedWalk walked;
    std::size_t next = 0, rays = 0;
    for (auto _ : state) {
        const std::size_t i = next++ % walked.frames.size();
        PoseOutcome outcome = track(*walked.scene->tracking, walked.frames[i], walked.predictions[i]);
        benchmark::DoNotOptimize(outcome);
        rays += walked.frames[i].size();
    }
    // The median of single frames, outside the timed loop.
    std::vector<double> times;
    for (std::size_t i = 0; i < walked.frames.size(); ++i) {
        const auto start = std::chrono::steady_clock::now();
        PoseOutcome outcome = track(*walked.scene->tracking, walked.frames[i], walked.predictions[i]);
        benchmark::DoNotOptimize(outcome);
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["medianUs"] = quantile(times, 0.5);
    state.counters["rays"] = static_cast<double>(rays) / static_cast<double>(state.iterations());
}

void refine24(benchmark::State& state) {
    const LibraryHost host;
    const TrackingScene scene(host, matchGeometries()[1], 24, 71);
    std::mt19937_64 rng(73);
    CameraProfile camera;
    camera.strayRays = 0;
    camera.dropProbability = 0;
    View view;
    do view = cameraViews(scene, camera, 1, rng).front();
    while (view.frame.rays.size() < 24);
    view.frame.rays.resize(24);
    const std::vector<MarkerIndex> numbers(view.frame.markerNumbers.begin(), view.frame.markerNumbers.begin() + 24);
    Pose start = toPose(view.pose);
    start.position += Vector3{0.03f, -0.02f, 0.03f};
    start.rotation = LumetraMath::quaternionFromAxisAngle(Vector3{1.0f, 0.3f, 0.2f}, 0.05f) * start.rotation;
    for (auto _ : state) {
        PoseOutcome outcome = refinePose(*scene.tracking, view.frame.rays, numbers, start);
        benchmark::DoNotOptimize(outcome);
    }
}

}  // namespace

BENCHMARK(identifyExact)->Name("Tracking/identify/LongFloor/exact/bars")->Arg(8)->Arg(16)->Arg(24);
BENCHMARK(matchExact)->Name("Tracking/match/LongFloor/exact/bars")->Arg(8)->Arg(16)->Arg(24);
BENCHMARK(trackWalk)->Name("Tracking/track/LongFloor/walk120Hz");
BENCHMARK(refine24)->Name("Tracking/refinePose/LongFloor/rays:24");
