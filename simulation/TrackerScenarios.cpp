#include "simulation/TrackerScenarios.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>

#include "simulation/PoseOracle.h"

namespace Lumetra::Testing {
namespace {

using Vesk::Environment::HorizontalGrid::PoseMethodTrackerPredicted;
using Vesk::Environment::HorizontalGrid::TrackerTracking;
using Quaterniond = LumetraMath::quaternion<double>;
using Clock = std::chrono::steady_clock;

constexpr double pi = 3.14159265358979323846;
/// The covariance is judged once the filter has settled.
constexpr double neesAfter = 1.0;

double microsecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

Quaterniond toDouble(const LumetraMath::quaternion<float>& q) { return {q.x, q.y, q.z, q.w}; }
Point3d toDouble(const Point3& v) { return LumetraMath::vectorCast<double>(v); }

struct Mount {
    Point3d centre{};
    Quaterniond rotation{0, 0, 0, 1};
};

Mount mountOf(const LumetraMath::poseP3Q<float>& pose) { return {toDouble(pose.position), toDouble(pose.rotation)}; }

/// The world pose of a camera on the tracker.
TrackerPose cameraPose(const Motion& motion, const Mount& mount) {
    return toTrackerPose(motion.position + LumetraMath::mul(motion.rotation, mount.centre),
                         motion.rotation * mount.rotation);
}

double positionNorm(const PoseVector& e) { return std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]); }
double rotationNorm(const PoseVector& e) { return std::sqrt(e[3] * e[3] + e[4] * e[4] + e[5] * e[5]); }

PoseVector stateError(const TrackerState& state, const Motion& truth) {
    return poseError(toDouble(state.pose.position), toDouble(state.pose.rotation), truth.position, truth.rotation);
}

class ScenarioRun {
public:
    ScenarioRun(const TrackingScene& scene, const TrackerScenario& scenario, TrackerFigures& figures)
        : scene_(scene), scenario_(scenario), figures_(figures),
          trajectory_(walkAreaOf(scene), scenario.shape, scenario.seed),
          sensor_(scenario.inertialNoise, scenario.inertialRate, scenario.seed * 7 + 1), rng_(scenario.seed * 13 + 5) {
        TrackerSettings settings{};
        settings.structSize = sizeof(TrackerSettings);
        const std::uint32_t cameras = scenario.twoCameras ? 2 : 1;
        settings.cameraCount = scenario.twoCameras ? 2 : 0;
        for (std::uint32_t c = 0; c < cameras; ++c) {
            if (scenario.twoCameras) settings.cameras[c] = rigCamera(c);
            mounts_.push_back(scenario.twoCameras ? mountOf(rigCamera(c)) : Mount{});
        }
        tracker_ = createTracker(*scene.environment, &settings);
    }

    void run() {
        const double framePeriod = 1.0 / scenario_.cameraRate;
        const double samplePeriod = sensor_.period();
        const std::size_t cameras = mounts_.size();
        std::size_t nextSample = 1;
        // Frame j of camera c at (j + c / cameras) periods; delivered `latency` later.
        for (std::size_t j = 1; static_cast<double>(j) * framePeriod < scenario_.seconds; ++j)
            for (std::size_t c = 0; c < cameras; ++c) {
                const double time = (static_cast<double>(j) + static_cast<double>(c) / static_cast<double>(cameras)) *
                                    framePeriod;
                const double delivered = time + scenario_.latency;
                if (scenario_.inertial) {
                    std::vector<InertialSample> batch;
                    while (static_cast<double>(nextSample) * samplePeriod <= delivered)
                        batch.push_back(sensor_.sample(trajectory_, static_cast<double>(nextSample++) * samplePeriod));
                    if (!batch.empty()) {
                        const auto start = Clock::now();
                        addInertial(*tracker_, batch);
                        figures_.addInertialMicroseconds.push_back(microsecondsSince(start) /
                                                                   static_cast<double>(batch.size()));
                    }
                }
                frame(time, static_cast<std::uint32_t>(c), delivered);
            }
    }

private:
    static WalkArea walkAreaOf(const TrackingScene& scene) {
        const double distance = scene.geometry.maxDistance;
        return {.halfWidth = 0.35 * static_cast<double>(scene.layout.size.x) * scene.layout.cellSize,
                .halfDepth = 0.35 * static_cast<double>(scene.layout.size.y) * scene.layout.cellSize,
                .height = scene.layout.height + (scene.layout.ceiling ? -distance : distance)};
    }

    bool occluded(double time) const {
        if (scenario_.gapEvery <= 0) return false;
        const double within = std::fmod(time, scenario_.gapEvery);
        return time > scenario_.gapEvery * 0.5 && within >= scenario_.gapEvery - scenario_.gapLength;
    }

    void frame(double time, std::uint32_t camera, double delivered) {
        const Motion truth = trajectory_.at(time);
        const TrackerPose cameraTruth = cameraPose(truth, mounts_[camera]);
        FrameOptions options{.ceiling = scene_.layout.ceiling,
                             .fieldOfViewHalfAngle = scenario_.camera.maxFieldOfView / 2,
                             .angularNoise = scenario_.camera.noise,
                             .dropProbability = scenario_.camera.dropProbability,
                             .spuriousRays = scenario_.camera.strayRays,
                             .seed = rng_()};
        Frame rays = occluded(time) ? Frame{} : generateFrame(scene_.markers, cameraTruth, options);
        const bool gapEnds = wasOccluded_ && !occluded(time);
        wasOccluded_ = occluded(time);
        if (gapEnds && locked_) {
            // The prediction at the first frame after the gap, before that frame is fused.
            const TrackerState before = getState(*tracker_, time);
            ++figures_.gaps;
            figures_.gapEndErrors.push_back(before.status == 0 ? 1e9 : positionNorm(stateError(before, truth)));
        }

        auto start = Clock::now();
        const FrameOutcome outcome = addFrame(*tracker_, time, camera, rays.rays);
        figures_.addFrameMicroseconds.push_back(microsecondsSince(start));
        if (gapEnds && locked_ && outcome.fused && outcome.report.method == PoseMethodTrackerPredicted)
            ++figures_.gapsResumedByPrediction;
        if (outcome.fused) score(rays, outcome, cameraTruth);
        if (outcome.fused && !locked_) locked_ = true;

        start = Clock::now();
        const TrackerState state = getState(*tracker_, time);
        figures_.getStateMicroseconds.push_back(microsecondsSince(start));
        if (!locked_ || occluded(time)) return;  // occluded frames have nothing to track
        ++figures_.frames;
        if (state.status != TrackerTracking) return;
        ++figures_.tracking;
        if (!outcome.fused) return;
        const PoseVector error = stateError(state, truth);
        figures_.positionErrors.push_back(positionNorm(error));
        figures_.rotationErrors.push_back(rotationNorm(error));
        if (time > neesAfter)
            if (const std::optional<double> value = normalisedError(unpackCovariance(state.covariance), error)) {
                figures_.neesSum += *value;
                ++figures_.neesCount;
                figures_.neesAbove95 += *value > chiSquared6At95;
            }
        oracle(rays, camera, cameraTruth, truth);

        const double ahead = std::min(time + scenario_.predictionAhead, delivered);
        const TrackerState predicted = getState(*tracker_, ahead);
        if (predicted.status == TrackerTracking) {
            const PoseVector aheadError = stateError(predicted, trajectory_.at(ahead));
            figures_.predictionPositionErrors.push_back(positionNorm(aheadError));
            figures_.predictionRotationErrors.push_back(rotationNorm(aheadError));
        }
    }

    void score(const Frame& rays, const FrameOutcome& outcome, const TrackerPose& cameraTruth) {
        ++figures_.fused;
        figures_.predicted += outcome.report.method == PoseMethodTrackerPredicted;
        const float quarter = 0.25f * scene_.markerSpacing;
        const Point3d centre = cameraTruth.position;
        for (std::size_t i = 0; i < rays.rays.size(); ++i) {
            const MarkerIndex number = outcome.markerIndices[i];
            if (number >= scene_.markers.size()) continue;
            if (rays.markerNumbers[i] == spuriousMarker) {
                ++figures_.strayNumbered;
                const Point3d direction = toDouble(rays.worldRays[i]);
                const Point3d marker = toDouble(scene_.markers[number]);
                const double lambda = (marker.y - centre.y) / direction.y;
                const Point3d hit = centre + direction * lambda;
                figures_.strayNumberedFar += !(lambda > 0) || std::hypot(hit.x - marker.x, hit.z - marker.z) > quarter;
            } else if (rays.markerNumbers[i] != number) {
                ++figures_.wrongNumbers;
            }
        }
    }

    /// The single-frame oracle: the independent least-squares pose from the frame's true numbers.
    void oracle(const Frame& rays, std::uint32_t camera, const TrackerPose& cameraTruth, const Motion& truth) {
        const OracleFit fit = fitOraclePose(rays, scene_.markers, cameraTruth, scenario_.camera.noise);
        if (!fit.converged) return;
        // The camera's pose back to the tracker's.
        const Mount& mount = mounts_[camera];
        const Quaterniond rotation = fit.rotation * LumetraMath::conjugate(mount.rotation);
        const Point3d position = fit.position - LumetraMath::mul(rotation, mount.centre);
        const PoseVector error = poseError(position, rotation, truth.position, truth.rotation);
        figures_.oraclePositionErrors.push_back(positionNorm(error));
        figures_.oracleRotationErrors.push_back(rotationNorm(error));
    }

    const TrackingScene& scene_;
    const TrackerScenario& scenario_;
    TrackerFigures& figures_;
    Trajectory trajectory_;
    InertialSensor sensor_;
    std::mt19937_64 rng_;
    std::vector<Mount> mounts_;
    InterfacePtr<ITracker> tracker_;
    bool locked_ = false, wasOccluded_ = false;
};

}  // namespace

LumetraMath::poseP3Q<float> rigCamera(std::uint32_t camera) {
    // Two cameras 12 cm apart, each turned 20 degrees outwards about the tracker's z axis.
    const float side = camera == 0 ? 1.0f : -1.0f;
    const float half = static_cast<float>(10 * pi / 180);
    return {{0.06f * side, 0, 0}, {0, 0, side * std::sin(half), std::cos(half)}};
}

void runTrackerScenario(const TrackingScene& scene, const TrackerScenario& scenario, TrackerFigures& figures) {
    ScenarioRun(scene, scenario, figures).run();
}

void runColdStarts(const TrackingScene& scene, double maxTilt, int starts, std::uint64_t seed,
                   TrackerFigures& figures) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int s = 0; s < starts; ++s) {
        TrackerScenario scenario;
        scenario.shape = restingShape(maxTilt * unit(rng));
        scenario.seed = rng();
        const double distance = scene.geometry.maxDistance;
        const WalkArea area{.halfWidth = 0.35 * static_cast<double>(scene.layout.size.x) * scene.layout.cellSize,
                            .halfDepth = 0.35 * static_cast<double>(scene.layout.size.y) * scene.layout.cellSize,
                            .height = scene.layout.height + (scene.layout.ceiling ? -distance : distance)};
        const Trajectory trajectory(area, scenario.shape, scenario.seed);
        InertialSensor sensor(scenario.inertialNoise, scenario.inertialRate, scenario.seed + 1);
        const InterfacePtr<ITracker> tracker = createTracker(*scene.environment);
        std::vector<InertialSample> samples;
        for (int k = 1; k <= 300; ++k) samples.push_back(sensor.sample(trajectory, k * sensor.period()));
        addInertial(*tracker, samples);
        const Motion truth = trajectory.at(0.3);
        const TrackerPose pose = toTrackerPose(truth.position, truth.rotation);
        int frames = 0;
        for (; frames < 30; ++frames) {
            FrameOptions options{.ceiling = scene.layout.ceiling,
                                 .fieldOfViewHalfAngle = scenario.camera.maxFieldOfView / 2,
                                 .angularNoise = scenario.camera.noise,
                                 .dropProbability = scenario.camera.dropProbability,
                                 .spuriousRays = scenario.camera.strayRays,
                                 .seed = rng()};
            const Frame frame = generateFrame(scene.markers, pose, options);
            if (addFrame(*tracker, 0.3, 0, frame.rays).fused) break;
        }
        figures.framesToFirstLock.push_back(frames + 1);
    }
}

}  // namespace Lumetra::Testing
