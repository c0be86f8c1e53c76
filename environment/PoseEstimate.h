#pragma once
// What the environment's pose estimation (identify, track, refinePose) hands to its face: the
// pose, the number of each ray and the quality of the fit.

#include <cstdint>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "math/Pose.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

struct PoseEstimate {
    LumetraMath::poseP3Q<float> pose{};
    std::vector<MarkerIndex> markerIndices;  ///< one per ray; empty from refinePose
    std::uint32_t numberedRays = 0;
    std::uint32_t supportingRays = 0;
    double rmsAngle = 0, maxAngle = 0;  ///< radians
    double covariance[21] = {};         ///< as PoseReport::covariance
};

/// An estimate, or none, with the way it was found (a PoseMethod).
struct PoseOutcome {
    bool found = false;
    PoseEstimate estimate;
    std::uint32_t method = PoseMethodIdentify;
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
