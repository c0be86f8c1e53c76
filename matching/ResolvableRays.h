#pragma once
// How many rays of a frame a pose could number at all. A wide camera sees markers far out on the
// plane, where a small angular error moves a ray's hit farther than markers lie apart: no fit can
// number such rays, so a hypothesis's support is measured against the rays it could resolve.

#include <cstddef>
#include <vector>

#include "math/Pose.h"
#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

class Environment;

/// The usable rays that `pose` casts onto the marker plane (travelling towards it) at a place where
/// an error of three times `rmsAngle` moves the hit by less than two fifths of the smallest marker
/// spacing: twice the gate within which a numbered ray must pass its marker.
std::size_t countResolvableRays(const Environment& environment, const std::vector<LumetraMath::vector<float, 3>>& rays,
                                const LumetraMath::poseP3Q<float>& pose, double rmsAngle);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
