#pragma once
// Frames of the real-camera profile and walks over a room, and what identify, track and match
// make of them against the truth: success, wrong numbers, pose errors beside the oracle (the
// least-squares pose from the true correspondences, started at the truth) and the normalised
// estimation error squared of the reported covariance. Shared by tests and benchmarks.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "simulation/MatchScenarios.h"
#include "simulation/PosePrediction.h"
#include "simulation/TrackingHost.h"

namespace Lumetra::Testing {

/// The camera of a tracker in use: per-ray noise (radians, per axis), drops, strays and tilt;
/// the field of view is drawn per frame between the two full angles.
struct CameraProfile {
    double noise = 0.05 * 3.14159265358979323846 / 180.0;
    double dropProbability = 0.05;
    std::size_t strayRays = 2;
    double maxTilt = 15 * 3.14159265358979323846 / 180.0;
    double minFieldOfView = 65 * 3.14159265358979323846 / 180.0;
    double maxFieldOfView = 115 * 3.14159265358979323846 / 180.0;
};

enum class PoseMethod { match, identify, oracle };

struct TrackingFigures {
    int frames = 0;
    int found = 0;
    int wrongNumbers = 0;      ///< true marker rays numbered with another marker
    int strayNumbered = 0;     ///< stray rays that took a number
    int strayNumberedFar = 0;  ///< of those, rays passing farther than a quarter spacing from it
    int fellBack = 0;          ///< track frames that identified afresh
    std::vector<double> positionErrors;        ///< of the frames found
    std::vector<double> oraclePositionErrors;  ///< of the same frames
    double neesSum = 0;
    int neesCount = 0;

    double successRate() const { return frames == 0 ? 0.0 : static_cast<double>(found) / frames; }
    double meanNees() const { return neesCount == 0 ? 0.0 : neesSum / neesCount; }
};

/// p-quantile (0..1) of the values; 0 for none.
double quantile(std::vector<double> values, double p);

/// A scene: one random layout of a geometry loaded through the library, with its markers.
struct TrackingScene {
    TrackingScene(const LibraryHost& host, const MatchGeometry& geometry, std::uint32_t size, std::uint64_t seed);

    MatchGeometry geometry;
    Vesk::Environment::HorizontalGrid::EnvironmentDescription layout;
    InterfacePtr<IEnvironment> environment;
    InterfacePtr<ITrackingEnvironment> tracking;
    std::vector<Point3> markers;
    float markerSpacing = 0;
};

/// `count` views of the scene through the camera, each showing at least four complete bars.
std::vector<View> cameraViews(const TrackingScene& scene, const CameraProfile& camera, std::size_t count,
                              std::mt19937_64& rng);

/// Adds what `method` makes of each view to `figures`.
void evaluateViews(const TrackingScene& scene, const std::vector<View>& views, PoseMethod method,
                   TrackingFigures& figures);

/// Where a walk goes: x within +-halfWidth, z within +-halfDepth, at tracker height `height` (world y).
struct WalkArea {
    double halfWidth = 0, halfDepth = 0, height = 0;
};

/// Poses of a walk over the area at `rate` frames a second: 1.5 m/s, bouncing off the area's
/// edges, the head turning at up to 180 deg/s of yaw, with +-10 deg of sway and a 3 cm bob.
std::vector<TrackerPose> walk(const WalkArea& area, double seconds, double rate, std::uint64_t seed);
/// The walk over the middle 70 % of the scene's grid, at the geometry's largest distance from the
/// marker plane.
std::vector<TrackerPose> walk(const TrackingScene& scene, double seconds, double rate, std::uint64_t seed);

/// Tracks the walk's frames, seen through the camera's widest field of view, each predicted from the
/// two poses before at constant velocity (identify for the first, and after a frame without a pose).
void evaluateWalk(const TrackingScene& scene, const std::vector<TrackerPose>& poses, const CameraProfile& camera,
                  TrackingFigures& figures);

/// The oracle pose of a view: refinePose with the true numbers from the true pose.
PoseOutcome oracle(const TrackingScene& scene, const View& view);

/// Adds the frame's numbering and pose against the truth to `figures`.
void scoreOutcome(const TrackingScene& scene, const View& view, bool found, const std::vector<MarkerIndex>& numbers,
                  const Pose& pose, const PoseReport* report, TrackingFigures& figures);

}  // namespace Lumetra::Testing
