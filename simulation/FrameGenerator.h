#pragma once
// Synthetic camera frames of a horizontal grid, for tests, benchmarks and command-line tools:
// random bar layouts, random tracker poses, and the rays a tracker at a pose would see, each
// labelled with the marker it shows. Plain C++, no test framework.

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "environment/EnvironmentRecord.h"
#include "math/Quaternion.h"
#include "math/Vector.h"

namespace Lumetra::Testing {

using Point3 = LumetraMath::vector<float, 3>;
using Point3d = LumetraMath::vector<double, 3>;

/// The label of a ray that shows no marker of the environment.
inline constexpr std::uint32_t spuriousMarker = 0xFFFFFFFF;

/// A tracker pose built the way a person would hold it: turned by `yaw` about the vertical
/// axis, then tipped by `tilt` radians about the horizontal `tiltAxis`.
struct TrackerPose {
    Point3d position{};
    double yaw = 0;
    Point3d tiltAxis{1, 0, 0};
    double tilt = 0;

    /// world_from_tracker: turns tracker-frame vectors into world-frame vectors.
    LumetraMath::quaternion<double> rotation() const;
};

struct FrameOptions {
    bool ceiling = false;               ///< camera axis points up (markers under a ceiling) instead of down
    double fieldOfViewHalfAngle = 1.0;  ///< radians, about the camera axis
    double angularNoise = 0;            ///< standard deviation of each ray's direction error, radians
    double dropProbability = 0;         ///< chance that a visible marker yields no ray
    std::size_t spuriousRays = 0;       ///< extra rays in random directions inside the field of view
    std::uint64_t seed = 1;             ///< seeds noise, drops, spurious rays and the shuffle
};

struct Frame {
    std::vector<Point3> rays;                ///< unit directions, tracker frame, shuffled
    std::vector<Point3> worldRays;           ///< the same directions in the world frame
    std::vector<std::uint32_t> markerNumbers;  ///< the marker each ray shows, or spuriousMarker
};

/// The rays towards every marker inside the field of view. `markers` are the environment's
/// 3D markers, marker number = index.
Frame generateFrame(const std::vector<Point3>& markers, const TrackerPose& pose, const FrameOptions& options);

/// Number of bars whose three markers all appear in the frame (marker number / 3 = bar).
std::size_t countCompleteBars(const Frame& frame);

/// `geometry` with its size set to width × height and bars with random rotations: cells are
/// visited in random order and each takes a bar with probability `fill` unless a bar already lies
/// within `minSpacing` cells (Chebyshev distance); minSpacing 0 only keeps bars in distinct cells.
/// With an `inLineSpacing` above minSpacing, a bar also keeps that many cells from a bar in line
/// with either of them (rotations 0 and 2 lie along x, 1 and 3 along y), within minSpacing across.
Vesk::Environment::HorizontalGrid::EnvironmentDescription randomLayout(
    const Vesk::Environment::HorizontalGrid::EnvironmentDescription& geometry, std::uint32_t width,
    std::uint32_t height, double fill, int minSpacing, std::mt19937_64& rng, int inLineSpacing = 0);

struct PoseRange {
    double halfWidth = 1;      ///< x is drawn from [-halfWidth, halfWidth]
    double halfDepth = 1;      ///< z is drawn from [-halfDepth, halfDepth]
    double minDistance = 1.5;  ///< distance from the marker plane, drawn from [minDistance, maxDistance]
    double maxDistance = 2.5;
    double maxTilt = 0;        ///< tilt drawn uniformly from [0, maxTilt] about a random horizontal axis
};

/// A random pose on the tracker's side of the marker plane at `planeHeight`.
TrackerPose randomTrackerPose(const PoseRange& range, double planeHeight, bool ceiling, std::mt19937_64& rng);

/// Angle in radians of the rotation that takes `a` to `b` (sign of the quaternions ignored).
double rotationAngleBetween(const LumetraMath::quaternion<double>& a, const LumetraMath::quaternion<double>& b);

}  // namespace Lumetra::Testing
