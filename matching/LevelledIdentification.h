#pragma once
// Identification of rays whose tilt is already known: a tracker that knows which way is up (from
// its accelerometer or its filter) levels the rays itself, so the search projects them as they are,
// without levelling them again by a group's homography, and passes over hypotheses whose rotation
// the caller refuses (a tilt that disagrees with the known one).

#include <functional>
#include <optional>
#include <vector>

#include "environment/PoseEstimate.h"
#include "math/Quaternion.h"
#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

class Environment;

/// Whether a hypothesis's rotation (levelled rays -> world) is admitted.
using RotationTest = std::function<bool(const LumetraMath::quaternion<float>&)>;

/// `rays` are unit (unusable ones zero) and levelled: the tracker's up along +y. The estimate's
/// rotation turns the levelled rays into the world.
std::optional<PoseEstimate> identifyLevelledRays(const Environment& environment,
                                                 const std::vector<LumetraMath::vector<float, 3>>& rays,
                                                 const RotationTest& admits);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
