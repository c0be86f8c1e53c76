#pragma once
// The marker plane from the bar patterns of a view, without grouping them. Each bar-like triple of
// rays, read as a bar of the layout's proportions, fixes the direction of its line in the tracker's
// frame (from the ratio of its markers' distances, whatever their scale); the bars of the layout all
// lie in one plane, so the normal most of the patterns' lines are perpendicular to is that plane's.
// Up close and tilted, the patterns of a wide view often form no group larger than two or three bars,
// whose levelling is degrees off; the lines of all the patterns level it better.

#include <cstddef>
#include <optional>
#include <vector>

#include "environment/VeskEnvironment.h"
#include "math/Quaternion.h"
#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

struct PlaneLevelling {
    /// Turns tracker-frame rays so that the plane is horizontal, its markers below or above.
    LumetraMath::quaternion<float> rotation;
    std::size_t lines = 0;  ///< patterns whose lines lie in the plane
};

/// The levelling by the plane of most patterns' lines, its markers below (`markersBelow`) or above;
/// nothing when fewer than three patterns agree on a plane.
std::optional<PlaneLevelling> levellingFromPatterns(
    const VeskEnvironment& environment, const std::vector<LumetraMath::vector<float, 3>>& rays,
    const std::vector<VeskEnvironment::Pattern>& patterns, bool markersBelow);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
