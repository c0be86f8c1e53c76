#include "matching/MarkerReprojection.h"

#include <cmath>

namespace Lumetra::Vesk::Environment::HorizontalGrid {

std::optional<LumetraMath::vector<float, 2>> markerPlaneHit(const MarkerPlane& plane,
                                                            const LumetraMath::vector<float, 3>& origin,
                                                            const LumetraMath::vector<float, 3>& direction) {
    const float t = -(origin.y - plane.height) / direction.y;
    // A ray shows only what lies ahead of it: one travelling away from the plane meets nothing.
    if (!(t > 0.0f)) return std::nullopt;
    const LumetraMath::vector<float, 2> hit{origin.x + direction.x * t, origin.z + direction.z * t};
    // The index finds nothing near a non-finite point anyway; saying so here spares the query.
    if (!std::isfinite(hit.x) || !std::isfinite(hit.y)) return std::nullopt;
    return hit;
}

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
