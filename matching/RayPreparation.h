#pragma once
// The rays of a frame as the steps after it expect them: unit length, and each marker seen once.

#include <vector>

#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

/// The rays of a frame as unit vectors (any finite nonzero length, scaled by the largest component
/// first so that no squared length leaves the float range); a ray with a non-finite component or
/// of zero length becomes (0, 0, 0), which no step numbers.
std::vector<LumetraMath::vector<float, 3>> unitRays(const std::vector<LumetraMath::vector<float, 3>>& rays);

bool isUsableRay(const LumetraMath::vector<float, 3>& unitRay);

/// Which usable unit rays repeat an earlier one (within a micro-radian): one marker given twice.
std::vector<bool> repeatedRays(const std::vector<LumetraMath::vector<float, 3>>& unitRays);

/// Every repeat becomes (0, 0, 0), so it stays unnumbered and no two rays share a number.
void clearRepeatedRays(std::vector<LumetraMath::vector<float, 3>>& unitRays);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
