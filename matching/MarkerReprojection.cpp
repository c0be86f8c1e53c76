#include "matching/MarkerReprojection.h"

#include <cmath>

namespace Lumetra::Vesk::Environment::HorizontalGrid {

MarkerIndex markerHitByRay(const MarkerPlane& plane, const LumetraMath::vector<float, 3>& origin,
                           const LumetraMath::vector<float, 3>& direction) {
    const auto hit = markerPlaneHit(plane, origin, direction);
    if (!hit) return MarkerNotFound;
    // Exactly one marker within the radius names it; none or several name nothing.
    int found = -1, count = 0;
    plane.markers.forEachPointInCircle(*hit, plane.searchRadius, [&](int i) { found = i, ++count; });
    return count == 1 ? static_cast<MarkerIndex>(found) : MarkerNotFound;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
