#include "environment/Environment.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

#include "catalogue/FeatureCalculator.h"
#include "environment/MarkerSpacing.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

namespace {

using Vector2 = Environment::Vector2;
using Vector3 = Environment::Vector3;

/// Most bar groups the feature catalogue may examine: about five seconds of work on one core. On
/// the machine the limit was measured on, cataloguing ran at 4 to 6.5 million groups a second of
/// processor time (fully dense 16 x 16 to 36 x 36 grids, 80 x 80 and 200 x 200 a quarter full,
/// 400 x 400 a tenth full), so 20 million groups take 3 to 5 s. A fully dense 36 x 36 grid
/// (18.5 million groups, 3.3 s) is built; denser or larger ones are refused with a message.
constexpr std::size_t catalogueGroupLimit = 20'000'000;

}  // namespace

Environment::Environment(const float& length, const float& proportion, const float& slope, const Vector2& offset,
                         const float& pitch, std::vector<Bar> bars, LumetraMath::vector<unsigned long, 2> size,
                         bool ceilingMounted, float height)
    : VeskEnvironment(length, proportion),
      VeskEnvironmentFlat(ceilingMounted, height),
      barSlope(slope),
      cellSize(pitch),
      field(std::move(bars), size) {
    float sine = 0.0f;
    float cosine = 0.0f;
    ::sincosf(barSlope, &sine, &cosine);
    slopeRotation = Matrix2{{cosine, sine, -sine, cosine}};

    // Rotation 0: the markers along the bar direction around the bar centre; the others turned.
    const float along[3] = {-barLength / 2.0f, (1.0f - 2.0f * barProportion) * (-barLength / 2.0f), barLength / 2.0f};
    for (std::size_t k = 0; k < 3; ++k)
        barGeometries[0][k] = {offset.x + along[k] * cosine, offset.y + along[k] * sine};
    for (unsigned rotation = 1; rotation < 4; ++rotation)
        for (std::size_t k = 0; k < 3; ++k) barGeometries[rotation][k] = turnByQuarters(barGeometries[0][k], rotation);

    const Vector2& first = barGeometries[0][0];
    const Vector2 axis = barGeometries[0][2] - first;
    const float axisSquared = axis.x * axis.x + axis.y * axis.y;
    cellCenterInBarFrame = {-(first.x * axis.x + first.y * axis.y) / axisSquared,
                            (first.x * axis.y - first.y * axis.x) / axisSquared};

    gridCenter = {(static_cast<float>(size.x) * 0.5f - 0.5f) * cellSize,
                  (static_cast<float>(size.y) * 0.5f - 0.5f) * cellSize};

    combinations = FeatureCalculator::getFlatCombinationsForBarsOnGrid(field.bars(), false, catalogueGroupLimit);
    minCombinationSize = std::numeric_limits<unsigned long>::max();
    for (const auto& [key, barIds] : combinations) minCombinationSize = std::min(minCombinationSize, barIds.size());
    layoutSymmetries = findLayoutSymmetries(field);

    markerEllipse = computeEllipse(field.bars(), barGeometries, slopeRotation, cellSize, barLength);

    const std::vector<Vector2> markers = getMarkers2D();
    markersSearch = LumetraMath::Grid2DSearch<float>(markers, 1.5f);
    minMarkerDistance = smallestMarkerDistance(markers);
}

std::vector<Vector2> Environment::getMarkers2D(const std::vector<Bar>& bars, const BarGeometries& barGeometries,
                                               const Vector2& center, float cellSize) {
    std::vector<Vector2> markers;
    markers.reserve(3 * bars.size());
    for (const Bar& bar : bars) {
        const BarGeometry& geometry = barGeometries[bar.rotation()];
        const float cellX = static_cast<float>(bar._position.x) * cellSize;
        const float cellY = static_cast<float>(bar._position.y) * cellSize;
        for (std::size_t k = 0; k < 3; ++k)
            markers.push_back({geometry[k].x + cellX - center.x, geometry[k].y + cellY - center.y});
    }
    return markers;
}

std::vector<Vector2> Environment::getMarkers2D() const {
    return getMarkers2D(field.bars(), barGeometries, gridCenter, cellSize);
}

std::vector<Vector3> Environment::getMarkers() const {
    const std::vector<Vector2> markers = getMarkers2D();
    std::vector<Vector3> result;
    result.reserve(markers.size());
    for (const Vector2& marker : markers) result.push_back({marker.x, markersHeight, marker.y});
    return result;
}

bool Environment::filterRay(const Vector3& a, const Vector3& b) const {
    const bool facing = LumetraMath::dot(a, b) < 0.0f;
    return ceiling ? !facing : facing;
}

std::uint32_t Environment::getContoursCount() const { return 1; }

std::uint32_t Environment::getContourPointsCount(std::uint32_t) const { return 4; }

Vector2 Environment::getContourPoint(std::uint32_t, std::uint32_t point) const {
    const float halfWidth = static_cast<float>(field.width()) * 0.5f * cellSize;
    const float halfHeight = static_cast<float>(field.height()) * 0.5f * cellSize;
    switch (point) {
        case 0: return {-halfWidth, -halfHeight};
        case 1: return {-halfWidth, halfHeight};
        case 2: return {halfWidth, halfHeight};
        case 3: return {halfWidth, -halfHeight};
        default: return {0.0f, 0.0f};
    }
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
