#pragma once
// A tracker's settings as the filter uses them: the host's TrackerSettings read up to its
// structSize, zeros and missing fields replaced by their defaults, everything checked.

#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "tracking/Propagation.h"
#include "tracking/RayFusion.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

inline constexpr std::uint32_t maxTrackerCameras = 8;

struct TrackerConfiguration {
    std::vector<CameraMount> cameras;  ///< at least one
    double rayNoise = 0;
    ProcessNoise noise;
};

/// Null settings mean all defaults. Throws std::invalid_argument for more than 8 cameras, a camera
/// pose that is not finite or whose rotation is not a unit quaternion (a pose left all zero is the
/// tracker's origin, unrotated), or a noise density or gravity outside its range (rayNoise 1e-6 to
/// 0.1 rad; gyro densities 1e-9 to 1; gravity 1e-3 to 1e6; accelerometer densities 1e-9 to 10
/// times gravity / 9.80665).
TrackerConfiguration resolveTrackerSettings(const TrackerSettings* settings);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
