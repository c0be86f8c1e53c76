#pragma once
// The pose a host without an inertial sensor expects in the next frame, for track.

#include <optional>

#include "math/Pose.h"

namespace Lumetra::Testing {

/// The prediction a host without an inertial sensor makes: the last pose moved on by the motion
/// between the last two poses (just the last pose after a frame without one; nothing after a
/// frame without a pose, when the host identifies afresh).
class ConstantVelocityPredictor {
public:
    using Pose = LumetraMath::poseP3Q<float>;

    std::optional<Pose> predict() const;
    /// The outcome of the frame just tracked or identified.
    void update(bool found, const Pose& pose);

private:
    std::optional<Pose> previous_, beforePrevious_;
};

}  // namespace Lumetra::Testing
