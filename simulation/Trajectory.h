#pragma once
// Smooth tracker trajectories with their derivatives, for driving an inertial sensor model and
// the camera frames of one motion: a walk over a room (1.5 m/s, the head turning at up to
// 180 deg/s with +-10 deg of sway and a 3 cm bob) and a fast variant (turns up to 600 deg/s, tilt
// swings to 45 deg). Positions are sums of sines with exact derivatives; the rotation's rate is
// taken by a central difference that is exact to 1e-8.

#include <cstdint>

#include "math/Quaternion.h"
#include "simulation/FrameGenerator.h"
#include "simulation/TrackingScenarios.h"

namespace Lumetra::Testing {

/// The tracker's motion at one time.
struct Motion {
    Point3d position{}, velocity{}, acceleration{};  ///< world frame
    LumetraMath::quaternion<double> rotation{0, 0, 0, 1};  ///< tracker -> world
    Point3d angularRate{};  ///< tracker frame, rad/s
};

struct TrajectoryShape {
    double speed = 1.5;                                   ///< units/s at the middle of the area
    double peakYawRate = 3.14159265358979323846;         ///< rad/s
    double yawFrequency = 0.25;                           ///< Hz of the yaw rate's swing
    double maxTilt = 10 * 3.14159265358979323846 / 180;  ///< radians
    double tiltFrequency = 0.7;                           ///< Hz
    double tiltPhase = 0;                                 ///< radians: pi/2 with frequency 0 holds maxTilt
    double tiltAxisFrequency = 0.3;                       ///< Hz at which the tilt's axis turns
};

/// The walk, its fast variant, and a tracker held still at `tilt` (for cold starts).
TrajectoryShape walkShape();
TrajectoryShape fastWalkShape();
TrajectoryShape restingShape(double tilt);

class Trajectory {
public:
    Trajectory(const WalkArea& area, const TrajectoryShape& shape, std::uint64_t seed);

    Motion at(double time) const;
    LumetraMath::quaternion<double> rotationAt(double time) const;
    Point3d positionAt(double time) const;

private:
    WalkArea area_;
    TrajectoryShape shape_;
    double phase_[4] = {};
    double frequencyX_ = 0, frequencyZ_ = 0;
};

/// The same rotation as the yaw-then-tilt form of the frame generator.
TrackerPose toTrackerPose(const Point3d& position, const LumetraMath::quaternion<double>& rotation);

}  // namespace Lumetra::Testing
