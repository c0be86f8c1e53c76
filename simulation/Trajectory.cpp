#include "simulation/Trajectory.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace Lumetra::Testing {
namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double bobHeight = 0.03, bobFrequency = 1.8;

}  // namespace

TrajectoryShape walkShape() { return {}; }

TrajectoryShape fastWalkShape() {
    return {.speed = 1.5, .peakYawRate = 600 * pi / 180, .yawFrequency = 0.8, .maxTilt = 45 * pi / 180,
            .tiltFrequency = 0.5};
}

TrajectoryShape restingShape(double tilt) {
    return {.speed = 0, .peakYawRate = 0, .yawFrequency = 1, .maxTilt = tilt, .tiltFrequency = 0, .tiltPhase = pi / 2,
            .tiltAxisFrequency = 0};
}

Trajectory::Trajectory(const WalkArea& area, const TrajectoryShape& shape, std::uint64_t seed)
    : area_(area), shape_(shape) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> angle(0.0, 2 * pi);
    for (double& phase : phase_) phase = angle(rng);
    // A Lissajous figure over the area whose speed peaks near `speed`.
    frequencyX_ = shape.speed / std::max(area.halfWidth, 0.1);
    frequencyZ_ = 0.8 * shape.speed / std::max(area.halfDepth, 0.1);
}

Point3d Trajectory::positionAt(double t) const {
    return {area_.halfWidth * std::sin(frequencyX_ * t + phase_[0]),
            area_.height + bobHeight * std::sin(2 * pi * bobFrequency * t),
            area_.halfDepth * std::sin(frequencyZ_ * t + phase_[1])};
}

LumetraMath::quaternion<double> Trajectory::rotationAt(double t) const {
    const double yawOmega = 2 * pi * shape_.yawFrequency;
    const double yaw = phase_[2] - shape_.peakYawRate / yawOmega * std::cos(yawOmega * t);
    const double axisAngle = 2 * pi * shape_.tiltAxisFrequency * t + phase_[3];
    TrackerPose pose;
    pose.yaw = yaw;
    pose.tiltAxis = {std::cos(axisAngle), 0, std::sin(axisAngle)};
    pose.tilt = shape_.maxTilt * std::sin(2 * pi * shape_.tiltFrequency * t + shape_.tiltPhase);
    return pose.rotation();
}

Motion Trajectory::at(double t) const {
    Motion motion;
    motion.position = positionAt(t);
    const double wb = 2 * pi * bobFrequency;
    motion.velocity = {area_.halfWidth * frequencyX_ * std::cos(frequencyX_ * t + phase_[0]),
                       bobHeight * wb * std::cos(wb * t),
                       area_.halfDepth * frequencyZ_ * std::cos(frequencyZ_ * t + phase_[1])};
    motion.acceleration = {-area_.halfWidth * frequencyX_ * frequencyX_ * std::sin(frequencyX_ * t + phase_[0]),
                           -bobHeight * wb * wb * std::sin(wb * t),
                           -area_.halfDepth * frequencyZ_ * frequencyZ_ * std::sin(frequencyZ_ * t + phase_[1])};
    motion.rotation = rotationAt(t);
    // Body rate: q(t - h)^-1 q(t + h) = Exp(w 2h).
    constexpr double h = 1e-4;
    const auto step = LumetraMath::conjugate(rotationAt(t - h)) * rotationAt(t + h);
    const double sign = step.w < 0 ? -1.0 : 1.0;
    motion.angularRate = Point3d{step.x, step.y, step.z} * (sign * 2 / (2 * h));
    return motion;
}

TrackerPose toTrackerPose(const Point3d& position, const LumetraMath::quaternion<double>& q) {
    // q = tilt * yaw with yaw about +y and tilt about a horizontal axis: the swing-twist split of q.
    TrackerPose pose;
    pose.position = position;
    const double twistNorm = std::hypot(q.y, q.w);
    const LumetraMath::quaternion<double> twist =
        twistNorm > 1e-12 ? LumetraMath::quaternion<double>{0, q.y / twistNorm, 0, q.w / twistNorm}
                          : LumetraMath::quaternion<double>{0, 0, 0, 1};
    pose.yaw = 2 * std::atan2(twist.y, twist.w);
    const auto swing = q * LumetraMath::conjugate(twist);
    const double swingSine = std::sqrt(swing.x * swing.x + swing.y * swing.y + swing.z * swing.z);
    if (swingSine > 1e-12) {
        pose.tiltAxis = Point3d{swing.x, swing.y, swing.z} / swingSine;
        pose.tilt = 2 * std::atan2(swingSine, swing.w);
    }
    return pose;
}

}  // namespace Lumetra::Testing
