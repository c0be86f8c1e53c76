#pragma once
// Numbering a ray by the environment marker it points at, once the ray's origin is known.

#include <cmath>
#include <optional>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "math/Grid2DSearch.h"
#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

/// The markers of a flat environment as the reprojection sees them.
struct MarkerPlane {
    const LumetraMath::Grid2DSearch<float>& markers;  ///< 2D marker positions, index = marker number
    float height;                                     ///< height of the marker plane
    float searchRadius;                               ///< how far from its hit point a ray claims a marker
};

/// Where `direction` (world frame) cast from `origin` meets the marker plane ahead of it; nothing
/// when the ray travels away from the plane or a value is not finite (a ray parallel to the plane,
/// or non-finite input).
inline std::optional<LumetraMath::vector<float, 2>> markerPlaneHit(const MarkerPlane& plane,
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

/// The marker number when exactly one marker lies within the search radius of the ray's hit
/// point, else MarkerNotFound (also when the ray does not meet the plane).
MarkerIndex markerHitByRay(const MarkerPlane& plane, const LumetraMath::vector<float, 3>& origin,
                           const LumetraMath::vector<float, 3>& direction);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
