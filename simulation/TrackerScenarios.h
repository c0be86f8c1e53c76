#pragma once
// The inertial tracker driven as a host drives it, against the truth: a trajectory over a scene,
// an inertial sensor (or none), one camera or a two-camera rig at 60 Hz with the real-camera
// profile, frames delivered late, occlusion gaps; and what the tracker makes of it: the share of
// frame times with a pose, wrong numbers, errors beside the single-frame oracle, the prediction's
// error, the gaps' figures, the covariance's consistency and the cost of each call.

#include <cstdint>
#include <vector>

#include "simulation/InertialSensor.h"
#include "simulation/TrackerHost.h"
#include "simulation/Trajectory.h"
#include "simulation/TrackingScenarios.h"

namespace Lumetra::Testing {

struct TrackerScenario {
    TrajectoryShape shape = walkShape();
    bool inertial = true;
    bool twoCameras = false;
    double seconds = 10;
    double cameraRate = 60, inertialRate = 1000;
    double latency = 0.020;     ///< frames reach the tracker this long after their time
    double predictionAhead = 0.020;
    /// Occlusions: every `gapEvery` seconds (0: none) the cameras see nothing for `gapLength`.
    double gapEvery = 0, gapLength = 0.5;
    CameraProfile camera;       ///< the widest field of view is used
    InertialNoise inertialNoise;
    std::uint64_t seed = 1;
};

struct TrackerFigures {
    int frames = 0;         ///< frame times after the first lock
    int tracking = 0;       ///< of those, answered with status Tracking
    int fused = 0, predicted = 0;
    int wrongNumbers = 0, strayNumbered = 0, strayNumberedFar = 0;
    std::vector<double> positionErrors, rotationErrors;              ///< at fused frame times
    std::vector<double> oraclePositionErrors, oracleRotationErrors;  ///< the same frames
    std::vector<double> predictionPositionErrors, predictionRotationErrors;
    int gaps = 0, gapsResumedByPrediction = 0;
    std::vector<double> gapEndErrors;
    std::vector<double> framesToFirstLock;
    double neesSum = 0;
    int neesCount = 0, neesAbove95 = 0;
    std::vector<double> addFrameMicroseconds, getStateMicroseconds, addInertialMicroseconds;

    double trackingShare() const { return frames == 0 ? 0.0 : static_cast<double>(tracking) / frames; }
    double meanNees() const { return neesCount == 0 ? 0.0 : neesSum / neesCount; }
    double neesTail() const { return neesCount == 0 ? 0.0 : static_cast<double>(neesAbove95) / neesCount; }
};

/// Where a camera of the two-camera rig sits on the tracker (camera 0 or 1).
LumetraMath::poseP3Q<float> rigCamera(std::uint32_t camera);

/// Runs the scenario over the scene and adds what the tracker did to `figures`.
void runTrackerScenario(const TrackingScene& scene, const TrackerScenario& scenario, TrackerFigures& figures);

/// Cold starts: the tracker held still at a tilt drawn up to `maxTilt`, the inertial sensor running
/// for 0.3 s before the first frame; adds the frames each start took to its first lock.
void runColdStarts(const TrackingScene& scene, double maxTilt, int starts, std::uint64_t seed,
                   TrackerFigures& figures);

}  // namespace Lumetra::Testing
