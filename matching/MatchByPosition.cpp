#include "matching/DuplicateClearing.h"
#include "environment/Environment.h"
#include "matching/MarkerReprojection.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

std::vector<MarkerIndex> Environment::matchByPosition(const std::vector<Vector3>& rays, const Vector3& position) const {
    const MarkerPlane plane{markersSearch, markersHeight, markerSearchFactor * minMarkerDistance};
    std::vector<MarkerIndex> indices;
    indices.reserve(rays.size());
    for (const Vector3& ray : rays) indices.push_back(markerHitByRay(plane, position, ray));
    clearDuplicateMarkers(indices);
    return indices;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
