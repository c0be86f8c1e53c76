#include "environment/MarkerReprojection.h"

#include <cmath>

namespace Lumetra::Vesk::Environment::HorizontalGrid {

MarkerIndex markerHitByRay(const MarkerPlane& plane, const LumetraMath::vector<float, 3>& origin,
                           const LumetraMath::vector<float, 3>& direction) {
    const float t = -(origin.y - plane.height) / direction.y;
    const LumetraMath::vector<float, 2> hit{origin.x + direction.x * t, origin.z + direction.z * t};
    // The index finds nothing near a non-finite point anyway; skipping the query says so plainly.
    if (!std::isfinite(hit.x) || !std::isfinite(hit.y)) return MarkerNotFound;
    const std::vector<int> found = plane.markers.getPointsInCircle(hit, plane.searchRadius);
    return found.size() == 1 ? static_cast<MarkerIndex>(found.front()) : MarkerNotFound;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
