#pragma once
// What every environment whose markers lie in one horizontal plane holds: the index of its 2D
// marker positions, their smallest spacing, the mounting and the height of the marker plane.

#include <bit>
#include <cstdint>

#include "math/Grid2DSearch.h"

class VeskEnvironmentFlat {
public:
    bool getCeiling() const { return ceiling; }
    float getMarkersHeight() const { return markersHeight; }
    float getMinMarkerDistance() const { return minMarkerDistance; }
    float getMarkerSearchFactor() const { return markerSearchFactor; }
    const LumetraMath::Grid2DSearch<float>& getMarkersSearch() const { return markersSearch; }

protected:
    VeskEnvironmentFlat(bool ceilingMounted, float height) : ceiling(ceilingMounted), markersHeight(height) {}

    /// Index over the 2D marker positions; the owner fills it once its markers are known.
    LumetraMath::Grid2DSearch<float> markersSearch{{}, 1.5f};
    /// Smallest distance between two 2D markers; 0.5 while there are fewer than two.
    float minMarkerDistance = 0.5f;
    /// Times minMarkerDistance: the radius within which a reprojected ray claims a marker.
    float markerSearchFactor = std::bit_cast<float>(std::uint32_t{0x3F4CCCCD});  // 0.8
    bool ceiling;
    float markersHeight;
};
