// Times of the inertial tracker through the loaded library, as a host calls it: a walk on the long
// floor (1.5 m/s, up to 180 deg/s of yaw) seen at 60 Hz by a camera of the real-camera profile
// showing about 24 rays, frames delivered 20 ms late, and a 1 kHz inertial sensor whose samples
// arrive one by one. Each call is timed on its own; the counters are medians in microseconds:
// `addInertialUs` per sample, `addFrameUs` per frame (`rays` per frame on average) and `getStateUs`
// for the pose 20 ms past the newest frame.

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "simulation/TrackerScenarios.h"

namespace {

using namespace Lumetra::Testing;
using Clock = std::chrono::steady_clock;

double microseconds(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct Session {
    struct Frame {
        double time;
        std::vector<Vector3> rays;
    };
    std::vector<InertialSample> samples;
    std::vector<Frame> frames;
    double rays = 0;

    Session(const TrackingScene& scene, double seconds) {
        MatchGeometry geometry = scene.geometry;
        const WalkArea area{.halfWidth = 0.35 * static_cast<double>(scene.layout.size.x) * scene.layout.cellSize,
                            .halfDepth = 0.35 * static_cast<double>(scene.layout.size.y) * scene.layout.cellSize,
                            .height = scene.layout.height + 2.2};
        const Trajectory trajectory(area, walkShape(), 5);
        InertialSensor sensor(InertialNoise{}, 1000, 6);
        for (int k = 1; k <= static_cast<int>(seconds * 1000); ++k) samples.push_back(sensor.sample(trajectory, k / 1000.0));
        const CameraProfile camera;
        for (int j = 1; j < static_cast<int>(seconds * 60); ++j) {
            const double time = j / 60.0;
            const Motion motion = trajectory.at(time);
            const FrameOptions options{.ceiling = scene.layout.ceiling,
                                       .fieldOfViewHalfAngle = camera.maxFieldOfView / 2,
                                       .angularNoise = camera.noise,
                                       .dropProbability = camera.dropProbability,
                                       .spuriousRays = camera.strayRays,
                                       .seed = static_cast<std::uint64_t>(j)};
            frames.push_back({time, generateFrame(scene.markers, toTrackerPose(motion.position, motion.rotation), options).rays});
            rays += static_cast<double>(frames.back().rays.size());
        }
        rays /= static_cast<double>(frames.size());
    }
};

void trackerWalk(benchmark::State& state) {
    const LibraryHost host;
    const TrackingScene scene(host, matchGeometries()[1], 20, 11);
    const Session session(scene, 4.0);
    std::vector<double> inertial, frames, states;
    for (auto _ : state) {
        const InterfacePtr<ITracker> tracker = createTracker(*scene.environment);
        std::size_t nextSample = 0;
        for (const Session::Frame& frame : session.frames) {
            const double delivered = frame.time + 0.020;
            while (nextSample < session.samples.size() && session.samples[nextSample].time <= delivered) {
                const auto start = Clock::now();
                addInertial(*tracker, {session.samples[nextSample++]});
                inertial.push_back(microseconds(start));
            }
            auto start = Clock::now();
            benchmark::DoNotOptimize(addFrame(*tracker, frame.time, 0, frame.rays));
            frames.push_back(microseconds(start));
            start = Clock::now();
            benchmark::DoNotOptimize(getState(*tracker, delivered));
            states.push_back(microseconds(start));
        }
    }
    state.counters["addInertialUs"] = quantile(inertial, 0.5);
    state.counters["addFrameUs"] = quantile(frames, 0.5);
    state.counters["getStateUs"] = quantile(states, 0.5);
    state.counters["rays"] = session.rays;
}
BENCHMARK(trackerWalk)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
